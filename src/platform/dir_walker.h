#pragma once
// A depth-first walk over a directory tree that reports every regular file.
//
// Order: a directory reports its own files first, in byte order of their names, then walks each
// subdirectory (again in byte order) completely before the next one. The order is therefore the
// same on every run and every file system.
//
// What counts as a file: regular files only. Directories, ".", "..", symbolic links (to anything),
// FIFOs, sockets and device files are never reported; symbolic links inside the tree are not
// followed. The root itself is opened by path, so a root that is a symbolic link to a directory is
// followed. A directory whose (device, inode) is already on the current path (a bind mount of an
// ancestor) is not entered again.
//
// Reading directories ahead: by default a helper thread lists the directories that come next
// (up to WalkOptions::read_ahead of them) while the callback works through the files of the
// current one. The callback still runs on the calling thread, one file at a time, in the order
// above. A directory may then be listed before the callbacks for earlier files have run, so what
// they change in the tree may not be seen; set read_ahead to 0 to list each directory only when
// its turn comes.
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "platform/file_facts.h"

namespace quelvane {

// A point in time as the file system keeps it: seconds since the epoch and the nanoseconds part.
struct FileTime {
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
  bool operator==(const FileTime&) const = default;
};

// What one statx of a regular file tells.
struct FileStat {
  uint64_t bytes = 0;
  uint64_t device = 0;  // makedev(major, minor), comparable with st_dev
  uint64_t inode = 0;
  FileTime modified;
  FileTime born;                // meaningful only when has_birth_time
  bool has_birth_time = false;  // false where the file system keeps no birth time

  FileIdentity Identity() const { return {device, inode}; }
};

// One regular file found by the walk. Valid only during the callback that receives it.
class WalkEntry {
 public:
  WalkEntry(int dir_fd, const char* name, size_t name_length, std::string_view path)
      : m_dir_fd(dir_fd), m_name(name), m_name_length(name_length), m_path(path) {}

  // The last path component, exact bytes.
  std::string_view Name() const { return {m_name, m_name_length}; }
  // The root, "/" and the path inside the tree, exact bytes.
  std::string_view Path() const { return m_path; }

  // Asks the file system once (relative to the open parent directory, without following a
  // symbolic link) and keeps the answer. Empty when the file has gone or is no longer a regular
  // file.
  const std::optional<FileStat>& Stat() const;

 private:
  int m_dir_fd;
  const char* m_name;  // NUL-terminated
  size_t m_name_length;
  std::string_view m_path;
  mutable bool m_stat_done = false;
  mutable std::optional<FileStat> m_stat;
};

struct WalkStats {
  // Directories that could not be opened or read (the root included); they yield no files.
  uint64_t unreadable_dirs = 0;
  // Every directory entry read, "." and ".." excepted: files, directories, links and the rest.
  uint64_t entries_seen = 0;
  // Regular files handed to the callback.
  uint64_t files_reported = 0;
  // Directories not entered because they already lie on the current path.
  uint64_t loops_skipped = 0;
  // True when a stop was requested before the walk had ended.
  bool stopped = false;
};

using WalkCallback = std::function<void(const WalkEntry&)>;

struct WalkOptions {
  // How many directories a helper thread may list ahead of the callback (each holds an open
  // descriptor until its files are reported). 0: no helper thread.
  size_t read_ahead = 64;
};

// Walks the tree under root and calls on_file once per regular file, on the calling thread. A
// stop request ends the walk at the next file or directory. File-system errors are counted, not
// thrown.
WalkStats WalkDirectory(std::string_view root, const WalkCallback& on_file,
                        std::stop_token stop = {}, WalkOptions options = {});

}  // namespace quelvane
