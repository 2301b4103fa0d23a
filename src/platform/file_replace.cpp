#include "platform/file_replace.h"

#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace quelvane {
int ReplaceFileContents(const std::string& path, std::string_view bytes) {
  AtomicFile file;
  int err = file.Open(path);
  if (err == 0) err = file.Write(bytes.data(), bytes.size());
  if (err == 0) err = file.Commit();
  return err;
}

bool ReadWholeFile(const std::string& path, std::string& out, size_t limit) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  char buffer[65536];
  while (out.size() < limit) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

std::string CurrentDirectory() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return {};
  return buffer;
}

int RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return errno;
  return 0;
}

}  // namespace quelvane
