// Hashing real files: digests against md5sum, and files that changed after the find.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dupes/file_hashing.h"
#include "dupes/md5_hasher.h"

#include "../support/fixture.h"

namespace quelvane {
namespace {

using namespace quelvane::testing;

namespace fs = std::filesystem;

constexpr uint64_t kMiB = 1024 * 1024;

class FileHashingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quelvane-hash-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(m_dir, ignored);
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = m_dir + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
  }

  // The row's view of a file, taken now, as the find takes it.
  static HashTarget TargetOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    HashTarget t;
    t.id = 1;
    t.path = path;
    t.expected.bytes = static_cast<uint64_t>(st.st_size);
    t.expected.identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return t;
  }

  std::string m_dir;
};

TEST_F(FileHashingTest, DigestsMatchMd5sumAtEveryBoundary) {
  const uint64_t p = kDefaultPrefixBytes;
  const uint64_t piece = kReadPieceBytes;
  const uint64_t lengths[] = {0,     1,         p - 1,         p,        p + 1,       piece - 1,
                              piece, piece + 1, 3 * piece + 7, 5 * kMiB, 5 * kMiB + 1};
  uint32_t seed = 1;
  for (uint64_t length : lengths) {
    const std::string path =
        Write(std::string("f") + std::to_string(length), Content(length, seed++));
    const WholeHash whole = HashWholeFile(TargetOf(path));
    ASSERT_EQ(whole.failure, HashFailure::None) << length;
    EXPECT_EQ(DigestToText(whole.digest), Md5sumOf(path)) << length;
    // Every byte once, and nothing past the end.
    EXPECT_EQ(whole.bytes_read, length) << length;
  }
  EXPECT_EQ(Md5sumOf(Write("empty", "")), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(FileHashingTest, PrefixKeysTellFilesApartByTheirFirstBytesOnly) {
  const std::string bytes = Content(10000, 9);
  std::string late = bytes;
  late[9000] ^= 1;  // differs after the prefix
  std::string early = bytes;
  early[100] ^= 1;  // differs inside it
  const PrefixHash a = HashPrefix(TargetOf(Write("a", bytes)), 4096);
  const PrefixHash b = HashPrefix(TargetOf(Write("b", late)), 4096);
  const PrefixHash c = HashPrefix(TargetOf(Write("c", early)), 4096);
  for (const PrefixHash* p : {&a, &b, &c}) {
    EXPECT_EQ(p->failure, HashFailure::None);
    EXPECT_FALSE(p->complete);
    EXPECT_EQ(p->bytes_read, 4096u);
  }
  EXPECT_EQ(a.key, b.key);
  EXPECT_NE(a.key, c.key);

  // A file not longer than the prefix is read to its end; its key is its MD5.
  for (size_t length : {size_t{0}, size_t{1}, size_t{4095}, size_t{4096}}) {
    const std::string path =
        Write(std::string("short") + std::to_string(length), bytes.substr(0, length));
    const PrefixHash whole = HashPrefix(TargetOf(path), 4096);
    EXPECT_TRUE(whole.complete) << length;
    EXPECT_EQ(DigestToText(whole.key), Md5sumOf(path)) << length;
  }
}

TEST_F(FileHashingTest, FilesReadSideBySideEachGetTheirOwnMd5) {
  const uint64_t length = 3 * kReadPieceBytes + 5;
  const std::string bytes = Content(length, 21);
  std::string last = bytes;
  last.back() ^= 1;
  std::string second_piece = bytes;
  second_piece[kReadPieceBytes + 7] ^= 1;
  const std::vector<std::string> paths = {Write("s0", bytes),   Write("s1", bytes),
                                          Write("s2", last),    Write("s3", second_piece),
                                          Write("s4", bytes),   Write("s5", second_piece),
                                          Write("gone", bytes), Write("cut", bytes)};
  std::vector<HashTarget> targets;
  for (const std::string& p : paths)
    targets.push_back(TargetOf(p));
  fs::remove(paths[6]);
  fs::resize_file(paths[7], length - 1);

  std::vector<std::optional<HashProgress>> progress(paths.size());
  std::vector<WholeHash> results(paths.size());
  std::vector<TogetherFile> files;
  for (size_t i = 0; i < paths.size(); ++i) {
    files.push_back({&targets[i], false, &progress[i], &results[i]});
  }
  HashTogether(files);
  for (size_t i = 0; i < 6; ++i) {
    ASSERT_EQ(results[i].failure, HashFailure::None) << paths[i];
    EXPECT_EQ(DigestToText(results[i].digest), Md5sumOf(paths[i])) << paths[i];
    EXPECT_EQ(results[i].bytes_read, length) << paths[i];  // each read once
  }
  EXPECT_EQ(results[6].failure, HashFailure::CannotOpen);
  EXPECT_EQ(results[7].failure, HashFailure::OtherLength);
}

TEST_F(FileHashingTest, AReadGoesOnFromItsProgressUnlessTheFileChanged) {
  const std::string bytes = Content(300000, 3);
  const std::string path = Write("moving", bytes);
  const HashTarget target = TargetOf(path);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  auto half_done = [&] {
    HashProgress p;
    p.md5.Update(bytes.substr(0, 100000));
    p.done = 100000;
    p.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return p;
  };
  HashProgress resumed = half_done();
  const WholeHash whole = HashRest(target, resumed);
  ASSERT_EQ(whole.failure, HashFailure::None);
  EXPECT_EQ(DigestToText(whole.digest), Md5sumOf(path));
  EXPECT_EQ(whole.bytes_read, 200000u);

  // Rewritten in place: same file, same length, new content and time.
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(200000);
    f << "changed";
  }
  const struct timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  HashProgress stale = half_done();
  EXPECT_EQ(HashRest(target, stale).failure, HashFailure::Changed);
}

TEST_F(FileHashingTest, AFileThatIsNoLongerTheListedOneEndsWithoutADigest) {
  struct Case {
    const char* what;
    void (*change)(const std::string& path);
    HashFailure failure;
  };
  const Case cases[] = {
      {"removed", [](const std::string& p) { fs::remove(p); }, HashFailure::CannotOpen},
      {"truncated", [](const std::string& p) { fs::resize_file(p, 100); },
       HashFailure::OtherLength},
      {"grown", [](const std::string& p) { std::ofstream(p, std::ios::app) << "more"; },
       HashFailure::OtherLength},
      {"replaced by a FIFO",
       [](const std::string& p) {
         fs::remove(p);
         ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
       },
       HashFailure::NotRegular},
      {"replaced by a folder",
       [](const std::string& p) {
         fs::remove(p);
         fs::create_directory(p);
       },
       HashFailure::NotRegular},
      {"replaced by another file of the same length",
       [](const std::string& p) {
         const std::string other = p + ".new";
         std::ofstream(other, std::ios::binary) << Content(6000, 77);
         fs::rename(other, p);
       },
       HashFailure::OtherFile},
      {"replaced by a symbolic link to a copy",
       [](const std::string& p) {
         const std::string copy = p + ".copy";
         fs::copy_file(p, copy);
         fs::remove(p);
         fs::create_symlink(copy, p);
       },
       HashFailure::CannotOpen},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = Write(std::string("victim") + std::to_string(n++), Content(6000, 5));
    const HashTarget target = TargetOf(path);
    c.change(path);
    const auto start = std::chrono::steady_clock::now();
    const WholeHash whole = HashWholeFile(target);
    EXPECT_EQ(whole.failure, c.failure) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.what;
  }
}

TEST_F(FileHashingTest, ACachedOnlyReadStopsAtWhatIsNotInMemoryAndGoesOnLater) {
  const std::string bytes = Content(2 * kMiB, 12);
  const std::vector<std::string> paths = {Write("cold1", bytes), Write("cold2", bytes)};
  std::vector<HashTarget> targets = {TargetOf(paths[0]), TargetOf(paths[1])};
  EXPECT_EQ(HashPrefix(targets[0], 4096, {}, ReadMode::CachedOnly).failure, HashFailure::None);
  for (const std::string& p : paths) {
    // Out of memory, the whole file (a large page is not split for a part of it).
    const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  }
  // The host may bring pages back or refuse to drop them; the test needs them gone.
  if (HashPrefix(targets[0], 4096, {}, ReadMode::CachedOnly).failure != HashFailure::NeedsDisk) {
    GTEST_SKIP() << "the page cache kept the file";
  }
  std::vector<std::optional<HashProgress>> progress(2);
  std::vector<WholeHash> results(2);
  std::vector<TogetherFile> files = {{&targets[0], true, &progress[0], &results[0]},
                                     {&targets[1], true, &progress[1], &results[1]}};
  HashTogether(files);
  for (size_t i = 0; i < 2; ++i) {
    ASSERT_EQ(results[i].failure, HashFailure::NeedsDisk);
    ASSERT_TRUE(progress[i].has_value());
    const WholeHash rest = HashRest(targets[i], *progress[i]);
    ASSERT_EQ(rest.failure, HashFailure::None);
    EXPECT_EQ(DigestToText(rest.digest), Md5sumOf(paths[i]));
    // Nothing is read twice, except the one piece in which a cached-only read stopped when
    // memory pressure evicted part of it meanwhile.
    EXPECT_GE(results[i].bytes_read + rest.bytes_read, 2 * kMiB);
    EXPECT_LE(results[i].bytes_read + rest.bytes_read, 2 * kMiB + kReadPieceBytes);
  }
}

TEST_F(FileHashingTest, AStopEndsTheWorkWithoutADigest) {
  const std::string path = Write("big", Content(2 * kMiB, 4));
  std::stop_source stop;
  stop.request_stop();
  EXPECT_EQ(HashPrefix(TargetOf(path), 4096, stop.get_token()).failure, HashFailure::Cancelled);
  HashProgress progress;
  EXPECT_EQ(HashRest(TargetOf(path), progress, stop.get_token()).failure, HashFailure::Cancelled);
}

}  // namespace
}  // namespace quelvane
