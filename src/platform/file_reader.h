#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_facts.h"

namespace quelvane {

// What a file must still be when it is opened for hashing: the one that the find listed.
struct ExpectedFile {
  uint64_t bytes = 0;
  // Device and inode at the find; an inode of 0 means unknown and is not compared.
  FileIdentity identity;
};

enum class OpenStatus {
  Ok,
  CannotOpen,   // missing, a symbolic link, a folder on the way gone, no permission ...
  NotRegular,   // a FIFO, a device, a folder now stands at the path
  OtherFile,    // another device or inode than at the find
  OtherLength,  // the length differs from the byte count at the find
};

// Modification time in nanoseconds since the epoch, to tell that a file changed between two
// opens.
using ModifiedStamp = int64_t;

// A folder held open so that several files in it are opened without walking the whole path
// each time. Opened without read access (it is only a starting point for names).
class DirectoryHandle {
 public:
  DirectoryHandle() = default;
  explicit DirectoryHandle(const std::string& path);
  ~DirectoryHandle();
  DirectoryHandle(const DirectoryHandle&) = delete;
  DirectoryHandle& operator=(const DirectoryHandle&) = delete;
  bool IsOpen() const { return m_fd >= 0; }

 private:
  friend class FileReader;
  int m_fd = -1;
};

// A file opened read-only for hashing. The open never follows a symbolic link and never
// blocks (a FIFO or device swapped in after the find is refused by the checks, not waited
// on). Closes on destruction.
class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  FileReader(FileReader&& other) noexcept;
  FileReader& operator=(FileReader&& other) noexcept;

  // Opens path and checks it is a regular file with the expected identity and length.
  // sequential asks the system to read ahead aggressively (for whole-file reads).
  OpenStatus Open(const std::string& path, const ExpectedFile& expected, bool sequential);
  // The same for a name (one path component, NUL-terminated) inside an open folder.
  OpenStatus OpenIn(const DirectoryHandle& dir, const char* name, const ExpectedFile& expected,
                    bool sequential);
  bool IsOpen() const { return m_fd >= 0; }
  void Close();

  // Reads up to length bytes at offset. Returns the count read (0 at the end of the file),
  // kReadFailed on a read error, or with cached_only kWouldBlock when the bytes are not in
  // memory and would have to come from the disk. A cached-only read may also return fewer
  // bytes than asked for when only those are in memory. Retries interrupted reads.
  static constexpr int64_t kReadFailed = -1;
  static constexpr int64_t kWouldBlock = -2;
  int64_t ReadAt(uint64_t offset, void* buffer, size_t length, bool cached_only = false);

  // The modification time that fstat showed at Open.
  ModifiedStamp Modified() const { return m_modified; }

 private:
  OpenStatus Check(int fd, const ExpectedFile& expected, bool sequential);

  int m_fd = -1;
  ModifiedStamp m_modified = 0;
};

}  // namespace quelvane
