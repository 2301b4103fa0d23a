#include "dupes/file_hashing.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace quelvane {

namespace {

// Buffers each worker thread keeps for its life: memory stays flat whatever the file sizes,
// and nothing is allocated per file.
std::byte* PieceBuffer(size_t bytes) {
  thread_local std::unique_ptr<std::byte[]> buffer;
  thread_local size_t capacity = 0;
  if (capacity < bytes) {
    buffer.reset(new std::byte[bytes]);
    capacity = bytes;
  }
  return buffer.get();
}

// Reads length bytes at offset, fewer only at the end of the file. A read that comes back
// short exactly at `end` (the byte count the file must have) is its end: the one byte more
// that was asked for does not exist. Anywhere else a short read is followed by another, which
// tells the end of the file (0) from a file system that returns less (or, for a cached-only
// read, from bytes that are not in memory: kWouldBlock).
int64_t ReadFully(FileReader& file, uint64_t offset, std::byte* buffer, size_t length,
                  bool cached_only, uint64_t end) {
  size_t got = 0;
  while (got < length) {
    const int64_t n = file.ReadAt(offset + got, buffer + got, length - got, cached_only);
    if (n < 0) return n;
    got += static_cast<size_t>(n);
    if (n == 0 || offset + got == end) break;
  }
  return static_cast<int64_t>(got);
}

HashFailure FailureOfRead(int64_t n) {
  return n == FileReader::kWouldBlock ? HashFailure::NeedsDisk : HashFailure::ReadError;
}

// A quick 128-bit hash of a file's first bytes: four independent lanes of 64-bit
// multiply-fold mixing, folded together at the end. It only has to tell apart files of one
// byte count, and a rare clash only costs a read.
Md5Digest QuickKey(const std::byte* data, size_t length) {
  constexpr uint64_t kMul[4] = {0x9E3779B97F4A7C15ULL, 0xC2B2AE3D27D4EB4FULL, 0x165667B19E3779F9ULL,
                                0xD6E8FEB86659FD93ULL};
  auto fold = [](uint64_t x, uint64_t k) {
    const unsigned __int128 p = static_cast<unsigned __int128>(x) * k;
    return static_cast<uint64_t>(p) ^ static_cast<uint64_t>(p >> 64);
  };
  uint64_t h[4] = {0x243F6A8885A308D3ULL ^ length, 0x13198A2E03707344ULL, 0xA4093822299F31D0ULL,
                   0x082EFA98EC4E6C89ULL};
  uint64_t word[4];
  size_t at = 0;
  for (; at + 32 <= length; at += 32) {
    std::memcpy(word, data + at, 32);
    for (int lane = 0; lane < 4; ++lane)
      h[lane] = fold(h[lane] ^ word[lane], kMul[lane]);
  }
  std::memset(word, 0, sizeof word);
  std::memcpy(word, data + at, length - at);
  for (int lane = 0; lane < 4; ++lane)
    h[lane] = fold(h[lane] ^ word[lane], kMul[lane]);
  const uint64_t a = fold(h[0] ^ h[2], kMul[1]) ^ h[1];
  const uint64_t b = fold(h[1] ^ h[3], kMul[2]) ^ h[0];
  Md5Digest key{};
  const uint64_t halves[2] = {fold(a, kMul[3]), fold(b ^ a, kMul[0])};
  std::memcpy(key.data(), halves, 16);
  return key;
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

std::string ParentFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

PrefixHash HashPrefix(const HashTarget& target, uint32_t prefix_bytes, std::stop_token stop,
                      ReadMode mode, const DirectoryHandle* dir) {
  PrefixHash out;
  if (stop.stop_requested()) {
    out.failure = HashFailure::Cancelled;
    return out;
  }
  FileReader file;
  const size_t slash = target.path.rfind('/');
  const OpenStatus status =
      dir != nullptr && dir->IsOpen() && slash != std::string::npos
          ? file.OpenIn(*dir, target.path.c_str() + slash + 1, target.expected, false)
          : file.Open(target.path, target.expected, false);
  out.failure = FailureOf(status);
  if (out.failure != HashFailure::None) return out;

  const uint64_t bytes = target.expected.bytes;
  const uint64_t prefix = std::clamp<uint64_t>(prefix_bytes, 1, kReadPieceBytes);
  out.complete = bytes <= prefix;
  // A complete file is asked for one byte more than it has, which must not come.
  const size_t want = static_cast<size_t>(out.complete ? bytes + 1 : prefix);
  std::byte* buffer = PieceBuffer(want);
  const int64_t n = ReadFully(file, 0, buffer, want, mode == ReadMode::CachedOnly, bytes);
  if (n < 0) {
    out.failure = FailureOfRead(n);
    return out;
  }
  out.bytes_read = static_cast<uint64_t>(n);
  const uint64_t expected = out.complete ? bytes : prefix;
  if (static_cast<uint64_t>(n) != expected) {
    out.failure = HashFailure::OtherLength;
    return out;
  }
  if (out.complete) {
    Md5Hasher md5;
    md5.Update(buffer, static_cast<size_t>(n));
    md5.Final();
    out.key = md5.Digest();
  } else {
    out.key = QuickKey(buffer, static_cast<size_t>(n));
  }
  return out;
}

WholeHash HashRest(const HashTarget& target, HashProgress& progress, std::stop_token stop,
                   ReadMode mode) {
  WholeHash out;
  if (stop.stop_requested()) {
    out.failure = HashFailure::Cancelled;
    return out;
  }
  const uint64_t to = target.expected.bytes;
  const bool cached_only = mode == ReadMode::CachedOnly;
  FileReader file;
  out.failure =
      FailureOf(file.Open(target.path, target.expected, !cached_only && to > kReadPieceBytes));
  if (out.failure != HashFailure::None) return out;
  // Bytes from two opens make one digest only when nothing was written in between.
  if (progress.done > 0 && file.Modified() != progress.modified) {
    out.failure = HashFailure::Changed;
    return out;
  }
  progress.modified = file.Modified();
  std::byte* buffer = PieceBuffer(kReadPieceBytes);
  for (;;) {
    if (stop.stop_requested()) {
      out.failure = HashFailure::Cancelled;
      return out;
    }
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(kReadPieceBytes, to + 1 - progress.done));
    const int64_t n = ReadFully(file, progress.done, buffer, want, cached_only, to);
    if (n < 0) {
      out.failure = FailureOfRead(n);
      return out;
    }
    out.bytes_read += static_cast<uint64_t>(n);
    if (progress.done + static_cast<uint64_t>(n) > to) {
      out.failure = HashFailure::OtherLength;  // it grew
      return out;
    }
    progress.md5.Update(buffer, static_cast<size_t>(n));
    progress.done += static_cast<uint64_t>(n);
    if (static_cast<size_t>(n) < want) break;  // the end of the file
  }
  if (progress.done != to) {
    out.failure = HashFailure::OtherLength;
    return out;
  }
  progress.md5.Final();
  out.digest = progress.md5.Digest();
  return out;
}

namespace {

// One file of a side-by-side read.
struct Member {
  TogetherFile* io = nullptr;
  FileReader file;
  std::byte* piece = nullptr;
  size_t stream = 0;  // the run of equal content it is in so far
  bool active = false;
};

// Ends a member without a digest.
void Drop(Member& m, HashFailure failure) {
  m.io->result->failure = failure;
  m.active = false;
}

// Reads the piece at pos of every active member. False when one of them needs the disk.
bool ReadPieces(std::vector<Member>& members, uint64_t pos, uint64_t to, size_t want) {
  for (Member& m : members) {
    if (!m.active) continue;
    const int64_t n = ReadFully(m.file, pos, m.piece, want, m.io->cached_only, to);
    if (n == FileReader::kWouldBlock) return false;
    if (n < 0) {
      Drop(m, HashFailure::ReadError);
      continue;
    }
    m.io->result->bytes_read += static_cast<uint64_t>(n);
    // Every file must give exactly the bytes up to `to` and nothing after.
    if (static_cast<uint64_t>(n) != std::min<uint64_t>(want, to - pos)) {
      Drop(m, HashFailure::OtherLength);
    }
  }
  return true;
}

// Splits off the members whose piece differs from the first of their stream; equal pieces
// among those that differ stay together. A new stream starts from the state before this piece.
void SplitStreams(std::vector<Member>& members, std::vector<Md5Hasher>& streams, size_t n) {
  const size_t before = streams.size();
  for (size_t s = 0; s < before; ++s) {
    const Member* first = nullptr;
    std::vector<std::pair<size_t, const Member*>> split;  // new stream, its first member
    for (Member& m : members) {
      if (!m.active || m.stream != s) continue;
      if (first == nullptr) {
        first = &m;
        continue;
      }
      if (std::memcmp(m.piece, first->piece, n) == 0) continue;
      auto same = std::find_if(split.begin(), split.end(), [&](const auto& entry) {
        return std::memcmp(m.piece, entry.second->piece, n) == 0;
      });
      if (same == split.end()) {
        streams.push_back(streams[s]);
        same = split.insert(split.end(), {streams.size() - 1, &m});
      }
      m.stream = same->first;
    }
  }
}

// The members still under way go on one by one from here, with ordinary reads.
void HandOver(std::vector<Member>& members, const std::vector<Md5Hasher>& streams, uint64_t pos) {
  for (Member& m : members) {
    if (!m.active) continue;
    m.io->progress->emplace(HashProgress{streams[m.stream], pos, m.file.Modified()});
    m.io->result->failure = HashFailure::NeedsDisk;
  }
}

}  // namespace

void HashTogether(std::span<TogetherFile> files, std::stop_token stop) {
  if (files.empty()) return;
  const uint64_t to = files[0].target->expected.bytes;
  std::byte* buffers = PieceBuffer(files.size() * kReadPieceBytes);
  std::vector<Member> members(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    Member& m = members[i];
    m.io = &files[i];
    *m.io->result = WholeHash{};
    m.piece = buffers + i * kReadPieceBytes;
    const bool sequential = !m.io->cached_only && to > kReadPieceBytes;
    m.io->result->failure =
        FailureOf(m.file.Open(m.io->target->path, m.io->target->expected, sequential));
    m.active = m.io->result->failure == HashFailure::None;
  }
  std::vector<Md5Hasher> streams(1);
  uint64_t pos = 0;
  for (;;) {
    if (stop.stop_requested()) {
      for (Member& m : members) {
        if (m.active) Drop(m, HashFailure::Cancelled);
      }
      return;
    }
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kReadPieceBytes, to + 1 - pos));
    if (!ReadPieces(members, pos, to, want)) {
      HandOver(members, streams, pos);
      return;
    }
    // Every file still here gave exactly n bytes; fewer than asked for means each of them
    // ended exactly at its byte count.
    const size_t n = static_cast<size_t>(std::min<uint64_t>(want, to - pos));
    if (n == 0) break;
    SplitStreams(members, streams, n);
    std::vector<bool> updated(streams.size(), false);
    for (Member& m : members) {
      if (!m.active || updated[m.stream]) continue;
      streams[m.stream].Update(m.piece, n);
      updated[m.stream] = true;
    }
    pos += n;
    if (n < want) break;
  }
  for (Md5Hasher& md5 : streams)
    md5.Final();
  for (Member& m : members) {
    if (m.active) m.io->result->digest = streams[m.stream].Digest();
  }
}

WholeHash HashWholeFile(const HashTarget& target, std::stop_token stop) {
  HashProgress progress;
  return HashRest(target, progress, stop);
}

}  // namespace quelvane
