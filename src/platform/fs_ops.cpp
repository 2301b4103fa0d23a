#include "platform/fs_ops.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

// glibc wraps renameat2 from 2.28 on; before that the system call is made directly.
#if defined(__GLIBC_PREREQ)
#if __GLIBC_PREREQ(2, 28)
#define QUELVANE_HAVE_RENAMEAT2 1
#endif
#endif
#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace quelvane {

namespace {

constexpr size_t kKernelChunk = size_t{1} << 30;  // per copy_file_range / sendfile call
constexpr size_t kBufferSize = size_t{1} << 20;   // read/write and compare buffers

// Owns a file descriptor; Close() reports the close error, which on some file systems is the
// first sign that written data did not reach the disk.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : m_fd(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  int get() const { return m_fd; }
  void reset(int fd) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }
  int Close() {
    int fd = m_fd;
    m_fd = -1;
    return (fd >= 0 && ::close(fd) != 0) ? errno : 0;
  }

 private:
  int m_fd = -1;
};

FileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Opens a file for reading without following a symbolic link and without blocking on a FIFO,
// and insists that it is a regular file. Returns 0 or the errno.
int OpenRegular(const std::string& path, Fd& fd, struct stat& st) {
  fd.reset(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return errno;
  if (::fstat(fd.get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return kErrNotRegular;
  // Regular files ignore O_NONBLOCK, but clear it so reads behave plainly everywhere.
  int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  return 0;
}

bool KernelRefuses(int error) {
  return error == EXDEV || error == EOPNOTSUPP || error == EINVAL || error == ENOSYS;
}

// Moves the rest of `in` into `out` with copy_file_range, sendfile or read/write, starting with
// `first` and stepping down whenever the kernel refuses a way. Offsets are the descriptors'
// own, so a later way goes on where an earlier one stopped.
int CopyData(int in, int out, DataPath first, uint64_t& copied) {
  DataPath path = first;
  std::vector<char> buffer;
  for (;;) {
    ssize_t n = 0;
    if (path == DataPath::Kernel) {
      n = ::copy_file_range(in, nullptr, out, nullptr, kKernelChunk, 0);
    } else if (path == DataPath::SendFile) {
      n = ::sendfile(out, in, nullptr, kKernelChunk);
    } else {
      if (buffer.empty()) buffer.resize(kBufferSize);
      n = ::read(in, buffer.data(), buffer.size());
      for (ssize_t done = 0; n > 0 && done < n;) {
        ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return w < 0 ? errno : ENOSPC;
        done += w;
      }
    }
    if (n > 0) {
      copied += static_cast<uint64_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && path != DataPath::ReadWrite && KernelRefuses(errno)) {
      path = path == DataPath::Kernel ? DataPath::SendFile : DataPath::ReadWrite;
      continue;
    }
    if (n < 0) return errno;
    // End of data as the kernel sees it. Some file systems answer 0 from copy_file_range
    // without copying; let the next way confirm the end of the file.
    struct stat st {};
    if (path != DataPath::ReadWrite && ::fstat(in, &st) == 0 &&
        static_cast<uint64_t>(st.st_size) > copied) {
      path = path == DataPath::Kernel ? DataPath::SendFile : DataPath::ReadWrite;
      continue;
    }
    return 0;
  }
}

// Flushes the directory that holds `path`, so that the new name survives a crash before the
// source is removed. Best effort: some file systems refuse fsync on directories.
void SyncParentDirectory(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

struct CopyOptions {
  DataPath first = DataPath::Kernel;
  bool for_move = false;  // flush, keep the owner, and check that the source did not change
  std::optional<FileIdentity> expected_source;
};

// Writes the data and attributes of an opened source into a freshly created destination and
// checks the result. Returns 0 or the errno of the step that failed.
int FillDestination(int in, const struct stat& src, int out, const CopyOptions& options) {
  uint64_t copied = 0;
  if (int e = CopyData(in, out, options.first, copied)) return e;
  const struct timespec times[2] = {src.st_atim, src.st_mtim};
  if (::futimens(out, times) != 0) return errno;
  if (options.for_move) {
    // Keeping the owner only works with the privilege to do so; without it the mover owns the
    // copy, as a copy made by hand would be.
    if (::fchown(out, src.st_uid, src.st_gid) != 0 && errno != EPERM) return errno;
  }
  if (::fchmod(out, src.st_mode & 0777) != 0) return errno;
  if (options.for_move && ::fsync(out) != 0) return errno;
  struct stat written {};
  if (::fstat(out, &written) != 0) return errno;
  if (static_cast<uint64_t>(written.st_size) != copied) return EIO;
  if (options.for_move) {
    // The source must still be what was copied: same size, not written to meanwhile.
    struct stat now {};
    if (::fstat(in, &now) != 0) return errno;
    if (static_cast<uint64_t>(now.st_size) != copied || !SameTime(now.st_mtim, src.st_mtim)) {
      return kErrNotExpected;
    }
  }
  return 0;
}

struct CopiedPair {
  FileIdentity source;
  FileIdentity destination;
};

// Copies `source` to the new name `destination`. On success *pair holds the identities of the
// file that was copied and of its copy; on failure the destination, if created, is removed.
int CopyRegularFile(const std::string& source, const std::string& destination,
                    const CopyOptions& options, CopiedPair* pair) {
  Fd in;
  struct stat src {};
  if (int e = OpenRegular(source, in, src)) return e;
  if (options.expected_source && IdentityOf(src) != *options.expected_source) {
    return kErrNotExpected;
  }
  // Created private; the source's permission bits are applied once the data is in.
  Fd out(::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (out.get() < 0) return errno;
  struct stat created {};
  if (::fstat(out.get(), &created) != 0) {
    int e = errno;
    out.Close();
    ::unlink(destination.c_str());  // just made exclusively by us, nothing else can be there
    return e;
  }
  int error = FillDestination(in.get(), src, out.get(), options);
  int close_error = out.Close();
  if (error == 0) error = close_error;
  if (error != 0) {
    DeleteFileVerified(destination, IdentityOf(created));
    return error;
  }
  if (pair) *pair = {IdentityOf(src), IdentityOf(created)};
  return 0;
}

int RenameNoReplace(const std::string& from, const std::string& to) {
#ifdef QUELVANE_HAVE_RENAMEAT2
  int r = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
#else
  int r = static_cast<int>(
      ::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE));
#endif
  return r == 0 ? 0 : errno;
}

// A move for file systems without a non-replacing rename: a second name, then the first one
// removed. link() never replaces. Returns EXDEV when hard links are not to be had either, so
// that the caller copies instead.
int LinkThenUnlink(const std::string& from, const std::string& to, FileIdentity identity) {
  if (::link(from.c_str(), to.c_str()) != 0) {
    int e = errno;
    return (e == EEXIST || e == ENOENT || e == ENOTDIR || e == ENAMETOOLONG) ? e : EXDEV;
  }
  FsResult removed = DeleteFileVerified(from, identity);
  if (!removed.ok()) {
    DeleteFileVerified(to, identity);  // back to the one name the file had
    return removed.error;
  }
  return 0;
}

int MoveByCopy(const std::string& from, const std::string& to, FileIdentity identity) {
  CopyOptions options;
  options.for_move = true;
  options.expected_source = identity;
  CopiedPair pair;
  if (int e = CopyRegularFile(from, to, options, &pair)) return e;
  SyncParentDirectory(to);
  FsResult removed = DeleteFileVerified(from, pair.source);
  if (!removed.ok()) {
    // The source stays, so the complete copy goes: the file is where it was, once.
    DeleteFileVerified(to, pair.destination);
    return removed.error;
  }
  return 0;
}

}  // namespace

bool PathExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<FileStatus> StatNoFollow(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return FileStatus{S_ISREG(st.st_mode), IdentityOf(st), static_cast<uint64_t>(st.st_size)};
}

FsResult CopyFileNoReplace(const std::string& source, const std::string& destination,
                           DataPath first) {
  CopyOptions options;
  options.first = first;
  return {CopyRegularFile(source, destination, options, nullptr)};
}

FsResult MoveFileNoReplace(const std::string& source, const std::string& destination) {
  struct stat st {};
  if (::lstat(source.c_str(), &st) != 0) return {errno};
  if (!S_ISREG(st.st_mode)) return {kErrNotRegular};
  FileIdentity identity = IdentityOf(st);
  int r = RenameNoReplace(source, destination);
  if (r == EINVAL || r == ENOSYS) r = LinkThenUnlink(source, destination, identity);
  if (r == EXDEV) r = MoveByCopy(source, destination, identity);
  return {r};
}

FsResult DeleteFileVerified(const std::string& path, FileIdentity expected,
                            std::optional<uint64_t> expected_bytes) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return {errno};
  if (!S_ISREG(st.st_mode)) return {kErrNotRegular};
  if (IdentityOf(st) != expected) return {kErrNotExpected};
  if (expected_bytes && static_cast<uint64_t>(st.st_size) != *expected_bytes) {
    return {kErrNotExpected};
  }
  if (::unlink(path.c_str()) != 0) return {errno};
  return {};
}

namespace {

// Reads until the buffer is full or the file ends; -1 on a read error.
ssize_t ReadFull(int fd, char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

}  // namespace

Comparison CompareFilesVerified(const std::string& a, FileIdentity a_identity, const std::string& b,
                                FileIdentity b_identity) {
  Fd fa, fb;
  struct stat sa {
  }, sb{};
  if (OpenRegular(a, fa, sa) != 0 || OpenRegular(b, fb, sb) != 0) return Comparison::Unverified;
  if (IdentityOf(sa) != a_identity || IdentityOf(sb) != b_identity) {
    return Comparison::Unverified;
  }
  if (IdentityOf(sa) == IdentityOf(sb)) return Comparison::Unverified;
  if (sa.st_size != sb.st_size) return Comparison::Different;
  ::posix_fadvise(fa.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  ::posix_fadvise(fb.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  std::vector<char> ba(kBufferSize), bb(kBufferSize);
  for (;;) {
    ssize_t na = ReadFull(fa.get(), ba.data(), ba.size());
    ssize_t nb = ReadFull(fb.get(), bb.data(), bb.size());
    if (na < 0 || nb < 0) return Comparison::Unverified;
    if (na != nb) return Comparison::Different;
    if (na == 0) return Comparison::Equal;
    if (std::memcmp(ba.data(), bb.data(), static_cast<size_t>(na)) != 0) {
      return Comparison::Different;
    }
  }
}

}  // namespace quelvane
