#include "platform/file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace quelvane {

FileReader::~FileReader() {
  Close();
}

FileReader::FileReader(FileReader&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_modified(other.m_modified) {}

FileReader& FileReader::operator=(FileReader&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = std::exchange(other.m_fd, -1);
    m_modified = other.m_modified;
  }
  return *this;
}

void FileReader::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

namespace {

// O_NONBLOCK: opening a FIFO or a device must not wait; O_NOFOLLOW: a symbolic link put in
// place of the listed file is not followed.
constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

}  // namespace

DirectoryHandle::DirectoryHandle(const std::string& path)
    : m_fd(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}

DirectoryHandle::~DirectoryHandle() {
  if (m_fd >= 0) ::close(m_fd);
}

OpenStatus FileReader::Open(const std::string& path, const ExpectedFile& expected,
                            bool sequential) {
  Close();
  return Check(::open(path.c_str(), kOpenFlags), expected, sequential);
}

OpenStatus FileReader::OpenIn(const DirectoryHandle& dir, const char* name,
                              const ExpectedFile& expected, bool sequential) {
  Close();
  if (!dir.IsOpen() || name[0] == '\0' || std::strchr(name, '/') != nullptr) {
    return OpenStatus::CannotOpen;
  }
  return Check(::openat(dir.m_fd, name, kOpenFlags), expected, sequential);
}

OpenStatus FileReader::Check(int fd, const ExpectedFile& expected, bool sequential) {
  if (fd < 0) return OpenStatus::CannotOpen;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return OpenStatus::CannotOpen;
  }
  OpenStatus status = OpenStatus::Ok;
  if (!S_ISREG(st.st_mode)) {
    status = OpenStatus::NotRegular;
  } else if (expected.identity.inode != 0 &&
             (static_cast<uint64_t>(st.st_dev) != expected.identity.device ||
              static_cast<uint64_t>(st.st_ino) != expected.identity.inode)) {
    status = OpenStatus::OtherFile;
  } else if (static_cast<uint64_t>(st.st_size) != expected.bytes) {
    status = OpenStatus::OtherLength;
  }
  if (status != OpenStatus::Ok) {
    ::close(fd);
    return status;
  }
  if (sequential) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  m_fd = fd;
  m_modified = static_cast<ModifiedStamp>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return OpenStatus::Ok;
}

int64_t FileReader::ReadAt(uint64_t offset, void* buffer, size_t length, bool cached_only) {
  if (m_fd < 0) return kReadFailed;
  struct iovec piece {
    buffer, length
  };
  for (;;) {
    const ssize_t n = cached_only
                          ? ::preadv2(m_fd, &piece, 1, static_cast<off_t>(offset), RWF_NOWAIT)
                          : ::pread(m_fd, buffer, length, static_cast<off_t>(offset));
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    // EAGAIN: not in memory. EOPNOTSUPP and the like: the file system cannot tell, so the read
    // has to be made the ordinary way.
    if (cached_only && errno != EIO) return kWouldBlock;
    return kReadFailed;
  }
}

}  // namespace quelvane
