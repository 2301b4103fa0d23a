#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "platform/fs_ops.h"

#include "../support/fixture.h"

namespace quelvane {
namespace {

using namespace quelvane::testing;

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes)
    c = static_cast<char>(gen());
  return bytes;
}

struct stat Lstat(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st;
}

FileIdentity IdentityOf(const std::string& path) {
  struct stat st = Lstat(path);
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

void SetTimes(const std::string& path, time_t seconds, long nanoseconds) {
  const struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// A directory on another file system than `other`, or none; tests that need one skip then.
std::unique_ptr<TempDir> OtherDevice(const TempDir& other) {
  for (const char* base : {"/dev/shm", "/run/user", "/var/tmp"}) {
    auto dir = std::make_unique<TempDir>(base);
    if (dir->ok() && Lstat(dir->path()).st_dev != Lstat(other.path()).st_dev) return dir;
  }
  return nullptr;
}

// Makes every write past `bytes` fail with EFBIG, as a full disk would, for one scope.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &m_saved);
    struct rlimit limit = m_saved;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &m_saved); }

 private:
  struct rlimit m_saved {};
};

TEST(FsOps, PathExistsCountsEveryTakenName) {
  TempDir dir;
  WriteFile(dir / "file", "x");
  ::mkdir((dir / "sub").c_str(), 0755);
  ::symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str());
  ::symlink((dir / "sub").c_str(), (dir / "to-sub").c_str());
  for (const char* name : {"file", "sub", "dangling", "to-sub"})
    EXPECT_TRUE(PathExists(dir / name));
  EXPECT_FALSE(PathExists(dir / "missing"));
  EXPECT_FALSE(PathExists(""));
  EXPECT_TRUE(IsDirectory(dir / "sub"));
  EXPECT_TRUE(IsDirectory(dir / "to-sub"));
  EXPECT_FALSE(IsDirectory(dir / "file"));
  EXPECT_FALSE(IsDirectory(dir / "missing"));
}

struct CopyCase {
  DataPath path;
  bool cross_device;
};

TEST(FsOps, CopyKeepsBytesTimeAndPermissionsOnEveryDataPath) {
  TempDir dir;
  std::unique_ptr<TempDir> other = OtherDevice(dir);
  const std::string bytes = RandomBytes((3u << 20) + 12345, 7);
  const CopyCase cases[] = {{DataPath::Kernel, false},    {DataPath::SendFile, false},
                            {DataPath::ReadWrite, false}, {DataPath::Kernel, true},
                            {DataPath::SendFile, true},   {DataPath::ReadWrite, true}};
  int n = 0;
  for (const CopyCase& c : cases) {
    if (c.cross_device && !other) continue;
    SCOPED_TRACE(n);
    std::string source = dir / ("src" + std::to_string(n));
    std::string dest = (c.cross_device ? *other : dir) / ("dest" + std::to_string(n));
    ++n;
    WriteFile(source, bytes);
    ::chmod(source.c_str(), 0640);
    SetTimes(source, 981173106, 123456789);
    ASSERT_TRUE(CopyFileNoReplace(source, dest, c.path).ok());
    EXPECT_EQ(ReadFile(dest), bytes);
    struct stat st = Lstat(dest);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 981173106);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
    EXPECT_EQ(ReadFile(source), bytes);
  }
}

TEST(FsOps, CopyOfAnEmptyFile) {
  TempDir dir;
  WriteFile(dir / "empty", "");
  ASSERT_TRUE(CopyFileNoReplace(dir / "empty", dir / "copy").ok());
  EXPECT_TRUE(Exists(dir / "copy"));
  EXPECT_EQ(Lstat(dir / "copy").st_size, 0);
}

TEST(FsOps, CopyNeverReplacesATakenName) {
  TempDir dir;
  WriteFile(dir / "src", "new");
  WriteFile(dir / "file", "old");
  ::mkdir((dir / "dir").c_str(), 0755);
  ::symlink((dir / "aimed-at").c_str(), (dir / "dangling").c_str());
  for (const char* name : {"file", "dir", "dangling"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(CopyFileNoReplace(dir / "src", dir / name).error, EEXIST);
    EXPECT_EQ(MoveFileNoReplace(dir / "src", dir / name).error, EEXIST);
  }
  EXPECT_EQ(ReadFile(dir / "file"), "old");
  EXPECT_FALSE(Exists(dir / "aimed-at"));  // not created through the link
  EXPECT_EQ(ReadFile(dir / "src"), "new");
}

TEST(FsOps, OnlyRegularFilesAreCopiedOrMoved) {
  TempDir dir;
  WriteFile(dir / "real", "data");
  ::symlink((dir / "real").c_str(), (dir / "link").c_str());
  ::mkfifo((dir / "fifo").c_str(), 0644);  // opening it must not block
  ::mkdir((dir / "sub").c_str(), 0755);
  const std::pair<const char*, int> cases[] = {
      {"link", ELOOP}, {"fifo", kErrNotRegular}, {"sub", kErrNotRegular}, {"missing", ENOENT}};
  for (const auto& [name, error] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(CopyFileNoReplace(dir / name, dir / "copy").error, error);
    EXPECT_FALSE(Exists(dir / "copy"));
    int move_error = MoveFileNoReplace(dir / name, dir / "moved").error;
    EXPECT_EQ(move_error, error == ELOOP ? kErrNotRegular : error);
    EXPECT_FALSE(Exists(dir / "moved"));
    if (error != ENOENT) {
      EXPECT_TRUE(Exists(dir / name));
    }
  }
  EXPECT_EQ(ReadFile(dir / "real"), "data");
}

TEST(FsOps, CopyFailingMidwayRemovesItsPartialDestination) {
  TempDir dir;
  const std::string bytes = RandomBytes(1u << 20, 3);
  WriteFile(dir / "src", bytes);
  for (DataPath path : {DataPath::Kernel, DataPath::SendFile, DataPath::ReadWrite}) {
    FileSizeLimit limit(64 * 1024);
    EXPECT_EQ(CopyFileNoReplace(dir / "src", dir / "dest", path).error, EFBIG);
    EXPECT_FALSE(Exists(dir / "dest"));
  }
  EXPECT_EQ(ReadFile(dir / "src"), bytes);
}

TEST(FsOps, MoveWithinAFileSystemIsARename) {
  TempDir dir;
  WriteFile(dir / "src", "content");
  FileIdentity before = IdentityOf(dir / "src");
  ASSERT_TRUE(MoveFileNoReplace(dir / "src", dir / "dest").ok());
  EXPECT_FALSE(Exists(dir / "src"));
  EXPECT_EQ(IdentityOf(dir / "dest"), before);
  EXPECT_EQ(MoveFileNoReplace(dir / "src", dir / "again").error, ENOENT);
  EXPECT_FALSE(Exists(dir / "again"));
}

TEST(FsOps, MoveAcrossFileSystemsCopiesThenRemovesTheSource) {
  TempDir dir;
  std::unique_ptr<TempDir> other = OtherDevice(dir);
  if (!other) GTEST_SKIP() << "no second file system to move to";
  const std::string bytes = RandomBytes((2u << 20) + 5, 11);
  WriteFile(dir / "src", bytes);
  ::chmod((dir / "src").c_str(), 0604);
  SetTimes(dir / "src", 1262304000, 5);
  ASSERT_TRUE(MoveFileNoReplace(dir / "src", *other / "dest").ok());
  EXPECT_FALSE(Exists(dir / "src"));
  EXPECT_EQ(ReadFile(*other / "dest"), bytes);
  struct stat st = Lstat(*other / "dest");
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1262304000);
  // And back, onto a name that is taken: nothing moves.
  WriteFile(dir / "taken", "keep me");
  EXPECT_EQ(MoveFileNoReplace(*other / "dest", dir / "taken").error, EEXIST);
  EXPECT_EQ(ReadFile(dir / "taken"), "keep me");
  EXPECT_EQ(ReadFile(*other / "dest"), bytes);
}

TEST(FsOps, FailedMoveAcrossFileSystemsLeavesTheSource) {
  TempDir dir;
  std::unique_ptr<TempDir> other = OtherDevice(dir);
  if (!other) GTEST_SKIP() << "no second file system to move to";
  const std::string bytes = RandomBytes(1u << 20, 5);
  WriteFile(dir / "src", bytes);
  {
    FileSizeLimit limit(64 * 1024);
    EXPECT_EQ(MoveFileNoReplace(dir / "src", *other / "dest").error, EFBIG);
  }
  EXPECT_FALSE(Exists(*other / "dest"));
  EXPECT_EQ(ReadFile(dir / "src"), bytes);
  // Into a folder that is not there: the source stays as well.
  EXPECT_EQ(MoveFileNoReplace(dir / "src", *other / "no/dest").error, ENOENT);
  EXPECT_EQ(ReadFile(dir / "src"), bytes);
}

TEST(FsOps, NamesThatAreNotUtf8) {
  TempDir dir;
  const std::string name = "caf\xe9 \xff\xfe.txt";
  WriteFile(dir / name, "bytes");
  ASSERT_TRUE(CopyFileNoReplace(dir / name, dir / ("copy " + name)).ok());
  ASSERT_TRUE(MoveFileNoReplace(dir / name, dir / ("moved " + name)).ok());
  EXPECT_EQ(ReadFile(dir / ("copy " + name)), "bytes");
  EXPECT_EQ(ReadFile(dir / ("moved " + name)), "bytes");
  const std::string moved = dir / ("moved " + name);
  EXPECT_TRUE(DeleteFileVerified(moved, IdentityOf(moved), 5).ok());
  EXPECT_FALSE(Exists(moved));
}

TEST(FsOps, DeleteOnlyTheFileThatWasFound) {
  TempDir dir;
  WriteFile(dir / "same", "12345");
  FileIdentity same = IdentityOf(dir / "same");
  // A file replaced by another of the same name: written beside it, then renamed over it.
  WriteFile(dir / "replaced", "old");
  FileIdentity replaced = IdentityOf(dir / "replaced");
  WriteFile(dir / "replacement", "new");
  ::rename((dir / "replacement").c_str(), (dir / "replaced").c_str());
  // A symbolic link found where the file was, pointing at it.
  WriteFile(dir / "target", "t");
  FileIdentity target = IdentityOf(dir / "target");
  ::rename((dir / "target").c_str(), (dir / "moved-target").c_str());
  ::symlink((dir / "moved-target").c_str(), (dir / "target").c_str());
  WriteFile(dir / "grown", "abc");
  FileIdentity grown = IdentityOf(dir / "grown");
  WriteFile(dir / "grown", "abcdef");  // rewritten in place: same inode, other size

  EXPECT_EQ(DeleteFileVerified(dir / "replaced", replaced).error, kErrNotExpected);
  EXPECT_EQ(ReadFile(dir / "replaced"), "new");
  EXPECT_EQ(DeleteFileVerified(dir / "target", target).error, kErrNotRegular);
  EXPECT_EQ(ReadFile(dir / "moved-target"), "t");
  EXPECT_EQ(DeleteFileVerified(dir / "grown", grown, 3).error, kErrNotExpected);
  EXPECT_EQ(ReadFile(dir / "grown"), "abcdef");
  EXPECT_EQ(DeleteFileVerified(dir / "missing", same).error, ENOENT);
  EXPECT_TRUE(DeleteFileVerified(dir / "same", same, 5).ok());
  EXPECT_FALSE(Exists(dir / "same"));
}

TEST(FsOps, CompareChecksIdentitiesThenEveryByte) {
  TempDir dir;
  const std::string bytes = RandomBytes((1u << 20) * 2 + 17, 9);
  std::string last_differs = bytes;
  last_differs.back() ^= 1;
  WriteFile(dir / "a", bytes);
  WriteFile(dir / "equal", bytes);
  WriteFile(dir / "last", last_differs);
  WriteFile(dir / "short", bytes.substr(0, bytes.size() - 1));
  ::link((dir / "a").c_str(), (dir / "hardlink").c_str());
  ::symlink((dir / "equal").c_str(), (dir / "symlink").c_str());
  FileIdentity a = IdentityOf(dir / "a");
  auto compare = [&](const std::string& name) {
    return CompareFilesVerified(dir / "a", a, dir / name, IdentityOf(dir / name));
  };
  EXPECT_EQ(compare("equal"), Comparison::Equal);
  EXPECT_EQ(compare("last"), Comparison::Different);
  EXPECT_EQ(compare("short"), Comparison::Different);
  EXPECT_EQ(compare("hardlink"), Comparison::Unverified);
  EXPECT_EQ(compare("symlink"), Comparison::Unverified);
  EXPECT_EQ(compare("missing"), Comparison::Unverified);
  EXPECT_EQ(CompareFilesVerified(dir / "a", IdentityOf(dir / "equal"), dir / "equal",
                                 IdentityOf(dir / "equal")),
            Comparison::Unverified);
}

}  // namespace
}  // namespace quelvane
