#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stop_token>
#include <string>

#include "dupes/md5_hasher.h"
#include "platform/file_reader.h"
#include "results/result_list.h"

namespace quelvane {

// Bytes read first from every candidate; a file whose first bytes differ from all others of
// its byte count is never read further.
inline constexpr uint32_t kDefaultPrefixBytes = 4096;
// The piece size of whole-file reads, into buffers each worker thread keeps for its life.
inline constexpr size_t kReadPieceBytes = 128 * 1024;
// At most this many files are read side by side (the buffers are this many pieces).
inline constexpr size_t kMaxFilesTogether = 16;

// One candidate as the workers see it: a copy taken on the owning thread.
struct HashTarget {
  RowId id = 0;
  std::string path;
  ExpectedFile expected;
};

// Why a candidate ended without a digest.
enum class HashFailure {
  None,
  CannotOpen,
  NotRegular,
  OtherFile,
  OtherLength,  // shorter or longer than at the find, or its length changed while read
  Changed,      // modified between two reads of one file
  ReadError,
  Cancelled,
  // Not a failure: a cached-only read found bytes that must come from the disk. The work is
  // to be done again (or, for a whole file, continued) with ordinary reads.
  NeedsDisk,
};

HashFailure FailureOf(OpenStatus status);

// Ordinary reads, or reads that take only what is in memory and never wait for a disk.
enum class ReadMode { Blocking, CachedOnly };

// The first stage. For a file not longer than the prefix the key is its MD5 (it was read to
// its end); for a longer one it is a quick 128-bit hash of its first bytes, only good for
// telling apart files of one byte count.
struct PrefixHash {
  HashFailure failure = HashFailure::None;
  bool complete = false;
  Md5Digest key{};
  uint64_t bytes_read = 0;
};

// With dir, the file is opened by its last name inside that folder (its parent, held open for
// several files of one folder).
PrefixHash HashPrefix(const HashTarget& target, uint32_t prefix_bytes, std::stop_token stop = {},
                      ReadMode mode = ReadMode::Blocking, const DirectoryHandle* dir = nullptr);

// The folder part of a path ("/" for a file at the root; empty when there is no slash).
std::string ParentFolderOf(const std::string& path);

// A whole-file MD5 under way: the state after `done` bytes, and the modification time of the
// file when those bytes were read.
struct HashProgress {
  Md5Hasher md5;
  uint64_t done = 0;
  ModifiedStamp modified = 0;
};

struct WholeHash {
  HashFailure failure = HashFailure::None;
  Md5Digest digest{};
  uint64_t bytes_read = 0;
};

// Reads a file from progress.done to its end. After NeedsDisk, progress holds what was read so
// far and a second call goes on from there; a file modified in between fails with Changed.
// Reads at most the expected byte count plus one byte, so a file that grew is noticed without
// reading what it grew by.
WholeHash HashRest(const HashTarget& target, HashProgress& progress, std::stop_token stop = {},
                   ReadMode mode = ReadMode::Blocking);

// One of several files of one byte count read side by side.
struct TogetherFile {
  const HashTarget* target = nullptr;
  bool cached_only = false;  // on a spinning disk: take only what is in memory
  std::optional<HashProgress>* progress = nullptr;  // filled when the result is NeedsDisk
  WholeHash* result = nullptr;
};

// Reads up to kMaxFilesTogether files of one byte count piece by piece from their first byte,
// comparing the pieces: MD5 runs once per distinct content, and files whose bytes are equal
// get the same digest, which is the MD5 of each of them. Every file is read once. When one of
// them needs the disk, all files still under way end with NeedsDisk and their progress, to be
// finished one by one with HashRest.
void HashTogether(std::span<TogetherFile> files, std::stop_token stop = {});

// A whole file in one go.
WholeHash HashWholeFile(const HashTarget& target, std::stop_token stop = {});

}  // namespace quelvane
