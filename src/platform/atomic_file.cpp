#include "platform/atomic_file.h"

#include <fcntl.h>
#include <locale.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>

namespace quelvane {
namespace {

// Everything up to and including the last '/', or "" for a name in the current directory.
std::string FolderPrefix(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string RandomSuffix() {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string out;
  uint64_t value = rng();
  for (int i = 0; i < 10; ++i) {
    out += kDigits[value % 36];
    value /= 36;
  }
  return out;
}

// A symbolic link is followed so that saving through it replaces the file it names. A dangling
// link is replaced itself, as there is no file behind it to keep.
std::string ResolveTarget(const std::string& target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
  char* resolved = ::realpath(target.c_str(), nullptr);
  if (resolved == nullptr) return target;
  std::string out = resolved;
  std::free(resolved);
  return out;
}

void SyncFolder(const std::string& file) {
  std::string folder = FolderPrefix(file);
  if (folder.empty()) folder = ".";
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // Best effort: the rename has happened; a failed folder flush does not undo it.
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

AtomicFile::~AtomicFile() {
  Abandon();
}

int AtomicFile::Open(const std::string& target) {
  Abandon();
  m_final = ResolveTarget(target);
  struct stat st {};
  m_keep_mode = false;
  if (::stat(m_final.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    m_keep_mode = S_ISREG(st.st_mode);
    m_mode = st.st_mode & 07777;
  }
  std::string folder = FolderPrefix(m_final);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = folder + ".quelvane-" + RandomSuffix() + ".tmp";
    int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      m_fd = fd;
      m_temp = temp;
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int AtomicFile::Write(const void* data, size_t size) {
  if (m_fd < 0) return EBADF;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(m_fd, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

int64_t AtomicFile::ReadAt(uint64_t offset, void* data, size_t size) const {
  if (m_fd < 0) {
    errno = EBADF;
    return -1;
  }
  for (;;) {
    ssize_t n = ::pread(m_fd, data, size, static_cast<off_t>(offset));
    if (n >= 0 || errno != EINTR) return n;
  }
}

int64_t AtomicFile::Size() const {
  struct stat st {};
  if (m_fd < 0) {
    errno = EBADF;
    return -1;
  }
  if (::fstat(m_fd, &st) != 0) return -1;
  return st.st_size;
}

int AtomicFile::Commit() {
  if (m_fd < 0) return EBADF;
  int err = 0;
  if (m_keep_mode && ::fchmod(m_fd, m_mode) != 0) err = errno;
  if (err == 0 && ::fsync(m_fd) != 0) err = errno;
  int fd = m_fd;
  m_fd = -1;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(m_temp.c_str(), m_final.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(m_temp.c_str());
  } else {
    SyncFolder(m_final);
  }
  m_temp.clear();
  return err;
}

void AtomicFile::Abandon() {
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
  if (!m_temp.empty()) {
    ::unlink(m_temp.c_str());
    m_temp.clear();
  }
}

std::string CErrorText(int error) {
  static const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (c_locale != static_cast<locale_t>(0)) return ::strerror_l(error, c_locale);
  return "Unknown error " + std::to_string(error);
}

}  // namespace quelvane
