#include "dupes/file_hashing.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace quelvane {

namespace {

// One read buffer per worker thread for the thread's life: memory stays flat whatever the
// file sizes, and no piece is allocated per file.
std::byte* PieceBuffer() {
  thread_local const std::unique_ptr<std::byte[]> buffer(new std::byte[kReadPieceBytes]);
  return buffer.get();
}

// Hashes bytes [pos, to) of the file and moves pos on. With check_end, one more byte is asked
// for, which must not come: the file has to end exactly at `to`.
struct Reading {
  FileReader& file;
  Md5Hasher& hasher;
  uint64_t& bytes_read;
  const std::stop_token& stop;
  bool cached_only;
};

HashFailure ReadInto(const Reading& r, uint64_t& pos, uint64_t to, bool check_end) {
  std::byte* buffer = PieceBuffer();
  const uint64_t limit = check_end ? to + 1 : to;
  while (pos < limit) {
    if (r.stop.stop_requested()) return HashFailure::Cancelled;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kReadPieceBytes, limit - pos));
    const int64_t n = r.file.ReadAt(pos, buffer, want, r.cached_only);
    if (n == FileReader::kWouldBlock) return HashFailure::NeedsDisk;
    if (n < 0) return HashFailure::ReadError;
    if (n == 0) break;
    r.bytes_read += static_cast<uint64_t>(n);
    if (pos + static_cast<uint64_t>(n) > to) return HashFailure::OtherLength;  // it grew
    r.hasher.Update(buffer, static_cast<size_t>(n));
    pos += static_cast<uint64_t>(n);
    // A short cached-only read before the end means the rest is not in memory.
    if (r.cached_only && static_cast<size_t>(n) < want && pos < to) return HashFailure::NeedsDisk;
  }
  return pos == to ? HashFailure::None : HashFailure::OtherLength;
}

}  // namespace

HashFailure FailureOf(OpenStatus status) {
  switch (status) {
    case OpenStatus::Ok:
      return HashFailure::None;
    case OpenStatus::CannotOpen:
      return HashFailure::CannotOpen;
    case OpenStatus::NotRegular:
      return HashFailure::NotRegular;
    case OpenStatus::OtherFile:
      return HashFailure::OtherFile;
    case OpenStatus::OtherLength:
      return HashFailure::OtherLength;
  }
  return HashFailure::CannotOpen;
}

PrefixHash HashPrefix(const HashTarget& target, uint32_t prefix_bytes, std::stop_token stop,
                      ReadMode mode) {
  PrefixHash out;
  if (stop.stop_requested()) {
    out.failure = HashFailure::Cancelled;
    return out;
  }
  FileReader file;
  out.failure = FailureOf(file.Open(target.path, target.expected, false));
  if (out.failure != HashFailure::None) return out;

  const uint64_t bytes = target.expected.bytes;
  const bool whole = bytes <= prefix_bytes;
  const uint64_t end = whole ? bytes : prefix_bytes;
  Md5Hasher hasher;
  uint64_t pos = 0;
  const Reading reading{file, hasher, out.bytes_read, stop, mode == ReadMode::CachedOnly};
  out.failure = ReadInto(reading, pos, end, whole);
  if (out.failure != HashFailure::None) return out;

  out.hashed_up_to = end;
  out.modified = file.Modified();
  if (whole) {
    hasher.Final();
    out.digest = hasher.Digest();
    out.complete = true;
    return out;
  }
  // The prefix digest is taken from a copy, so the running state goes on from the prefix.
  Md5Hasher probe(hasher);
  probe.Final();
  out.digest = probe.Digest();
  out.rest.emplace(std::move(hasher));
  return out;
}

WholeHash HashRest(const HashTarget& target, PrefixHash& prefix, std::stop_token stop,
                   ReadMode mode) {
  WholeHash out;
  out.failure = prefix.failure;
  if (out.failure != HashFailure::None) return out;
  if (prefix.complete || !prefix.rest) {
    out.digest = prefix.digest;
    return out;
  }
  if (stop.stop_requested()) {
    out.failure = HashFailure::Cancelled;
    return out;
  }
  FileReader file;
  out.failure = FailureOf(file.Open(target.path, target.expected, mode == ReadMode::Blocking));
  if (out.failure != HashFailure::None) return out;
  // The prefix came from an earlier open; a write in between would mix two versions.
  if (file.Modified() != prefix.modified) {
    out.failure = HashFailure::Changed;
    return out;
  }
  const Reading reading{file, *prefix.rest, out.bytes_read, stop, mode == ReadMode::CachedOnly};
  out.failure = ReadInto(reading, prefix.hashed_up_to, target.expected.bytes, true);
  if (out.failure == HashFailure::NeedsDisk) return out;  // the state is kept for the next go
  if (out.failure == HashFailure::None) {
    prefix.rest->Final();
    out.digest = prefix.rest->Digest();
  }
  prefix.rest.reset();
  return out;
}

WholeHash HashWholeFile(const HashTarget& target, std::stop_token stop) {
  PrefixHash prefix = HashPrefix(target, kDefaultPrefixBytes, stop);
  const uint64_t first = prefix.bytes_read;
  WholeHash out = HashRest(target, prefix, stop);
  out.bytes_read += first;
  return out;
}

}  // namespace quelvane
