#pragma once
// Writing a file so that it appears complete or not at all: the bytes go to a fresh temporary
// file in the target's folder, which is flushed and renamed over the target at the end. Every
// call reports the errno of the step that failed (0 for success).

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace quelvane {

class AtomicFile {
 public:
  AtomicFile() = default;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  // An uncommitted temporary file is closed and removed.
  ~AtomicFile();

  // Creates the temporary file beside target with O_EXCL and mode 0666 less the umask. A target
  // that is a symbolic link is followed, so the link stays and the file it names is replaced.
  // A target that is a directory fails here with EISDIR.
  int Open(const std::string& target);

  // Appends bytes at the current end of the temporary file.
  int Write(const void* data, size_t size);

  // Reads the temporary file back, also after another writer filled it by name: up to size
  // bytes at offset; returns the count (0 at the end) or -1 with errno set.
  int64_t ReadAt(uint64_t offset, void* data, size_t size) const;
  // Its current size, or -1 with errno set.
  int64_t Size() const;

  // Name of the temporary file, for writers that open it by name themselves.
  const std::string& TempPath() const { return m_temp; }
  // The file that Commit replaces (the target, or what its symbolic link names).
  const std::string& FinalPath() const { return m_final; }

  // Gives the temporary file the mode of the file it replaces (if any), flushes it to disk and
  // renames it over the target. On failure the temporary file is removed and the target is as
  // it was.
  int Commit();

  // Closes and removes the temporary file; the target is untouched.
  void Abandon();

 private:
  int m_fd = -1;
  std::string m_temp;
  std::string m_final;
  bool m_keep_mode = false;
  mode_t m_mode = 0;
};

// The system's text for an errno value as the C locale gives it ("No such file or directory").
std::string CErrorText(int error);

}  // namespace quelvane
