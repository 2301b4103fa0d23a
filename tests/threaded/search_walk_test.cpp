// The directory walk over real temporary trees, with and without the helper thread that lists
// directories ahead.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/dir_walker.h"

namespace quelvane {
namespace {

namespace fs = std::filesystem;

// Lists each directory when its turn comes: what a callback changes in the tree is seen.
class WalkFixture : public ::testing::Test {
 protected:
  virtual WalkOptions Options() const { return WalkOptions{.read_ahead = 0}; }

  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quelvane-walk-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_base = pattern;
    m_root = m_base + "/root";
    fs::create_directory(m_root);
  }
  void TearDown() override {
    for (const std::string& mount : m_mounts)
      umount2(mount.c_str(), MNT_DETACH);
    std::error_code ignored;
    fs::permissions(m_base, fs::perms::owner_all, ignored);
    fs::remove_all(m_base, ignored);
  }

  void File(const std::string& relative, const std::string& content = "x") {
    const fs::path path = fs::path(m_root) / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }
  void Dir(const std::string& relative) { fs::create_directories(fs::path(m_root) / relative); }
  std::string At(const std::string& relative) const { return m_root + "/" + relative; }

  // Walks and returns the reported paths, in order.
  std::vector<std::string> Walk(const std::string& root, WalkStats* stats = nullptr) {
    std::vector<std::string> paths;
    const WalkStats result = WalkDirectory(
        root,
        [&paths](const WalkEntry& entry) {
          EXPECT_TRUE(entry.Path().ends_with(entry.Name()));
          paths.emplace_back(entry.Path());
        },
        {}, Options());
    if (stats != nullptr) *stats = result;
    return paths;
  }

  std::string m_base;
  std::string m_root;
  std::vector<std::string> m_mounts;
};

// The same cases for every read-ahead depth.
class WalkTest : public WalkFixture, public ::testing::WithParamInterface<size_t> {
 protected:
  WalkOptions Options() const override { return WalkOptions{.read_ahead = GetParam()}; }
};
INSTANTIATE_TEST_SUITE_P(ReadAhead, WalkTest, ::testing::Values(0, 1, 64));

TEST_P(WalkTest, FilesFirstThenSubdirectoriesEachInByteOrder) {
  File("b.txt");
  File("a.txt");
  File("B.txt");
  File(".hidden");            // hidden files are files like any other
  File("\xff\xfe name.bin");  // not UTF-8: walked and listed as its bytes
  File("z/w.txt");
  File("a/x.txt");
  File("a/inner/y.txt");
  File("a/inner/deeper/q.txt");
  File("a/m.txt");
  Dir("a/empty");
  File("a b/space.txt");
  WalkStats stats;
  const std::vector<std::string> got = Walk(m_root, &stats);
  const std::vector<std::string> want = {
      At(".hidden"),
      At("B.txt"),
      At("a.txt"),
      At("b.txt"),
      At("\xff\xfe name.bin"),
      At("a/m.txt"),
      At("a/x.txt"),
      At("a/inner/y.txt"),
      At("a/inner/deeper/q.txt"),
      At("a b/space.txt"),
      At("z/w.txt"),
  };
  EXPECT_EQ(got, want);
  EXPECT_EQ(stats.unreadable_dirs, 0u);
  EXPECT_EQ(stats.files_reported, want.size());
  // 11 files and 6 directories (a, a/inner, a/inner/deeper, a/empty, a b, z).
  EXPECT_EQ(stats.entries_seen, 17u);
}

TEST_P(WalkTest, ManyDirectoriesKeepTheOrderOfTheWalkWithoutReadAhead) {
  // More directories than the helper may list ahead, so it has to wait for the callback.
  for (int outer = 0; outer < 12; ++outer) {
    for (int inner = 0; inner < 12; ++inner) {
      const std::string dir = "d" + std::to_string(outer) + "/s" + std::to_string(inner) + "/";
      File(dir + "b.txt");
      File(dir + "a.txt");
    }
    File("d" + std::to_string(outer) + "/top.txt");
  }
  std::vector<std::string> in_turn;
  WalkDirectory(
      m_root, [&](const WalkEntry& entry) { in_turn.emplace_back(entry.Path()); }, {},
      WalkOptions{.read_ahead = 0});
  ASSERT_EQ(in_turn.size(), 12u * 12u * 2u + 12u);
  EXPECT_EQ(in_turn[0], At("d0/top.txt"));
  EXPECT_EQ(in_turn[1], At("d0/s0/a.txt"));
  EXPECT_EQ(in_turn[3], At("d0/s1/a.txt"));  // "s1" < "s10" < "s11" < "s2"
  EXPECT_EQ(in_turn[5], At("d0/s10/a.txt"));
  EXPECT_EQ(Walk(m_root), in_turn);
}

TEST_P(WalkTest, RootWithTrailingSlashGivesTheSamePaths) {
  File("one.txt");
  File("sub/two.txt");
  EXPECT_EQ(Walk(m_root + "/"), Walk(m_root));
  EXPECT_EQ(Walk(m_root + "/"), (std::vector<std::string>{At("one.txt"), At("sub/two.txt")}));
}

TEST_P(WalkTest, SymbolicLinksInsideTheTreeAreNeitherListedNorFollowed) {
  File("real.txt");
  File("dir/inside.txt");
  File("../outside/far.txt");  // a directory beside the root
  ASSERT_EQ(symlink("real.txt", At("link-to-file").c_str()), 0);
  ASSERT_EQ(symlink("dir", At("link-to-dir").c_str()), 0);
  ASSERT_EQ(symlink("../../outside", At("dir/link-out").c_str()), 0);
  ASSERT_EQ(symlink("..", At("dir/loop").c_str()), 0);  // would make the walk endless
  ASSERT_EQ(symlink("missing", At("dangling").c_str()), 0);
  WalkStats stats;
  EXPECT_EQ(Walk(m_root, &stats), (std::vector<std::string>{At("real.txt"), At("dir/inside.txt")}));
  EXPECT_EQ(stats.unreadable_dirs, 0u);
  EXPECT_EQ(stats.entries_seen, 8u);
}

TEST_P(WalkTest, RootThatIsALinkToADirectoryIsFollowed) {
  File("a.txt");
  File("sub/b.txt");
  const std::string link = m_base + "/root-link";
  ASSERT_EQ(symlink(m_root.c_str(), link.c_str()), 0);
  EXPECT_EQ(Walk(link), (std::vector<std::string>{link + "/a.txt", link + "/sub/b.txt"}));
}

TEST_P(WalkTest, FifoIsSkippedWithoutOpeningIt) {
  File("before.txt");
  ASSERT_EQ(mkfifo(At("pipe").c_str(), 0600), 0);
  File("sub/after.txt");
  ASSERT_EQ(mkfifo(At("sub/pipe.mp4").c_str(), 0600), 0);
  WalkStats stats;
  // Opening a FIFO without a writer would block here; the walk must never do that.
  EXPECT_EQ(Walk(m_root, &stats),
            (std::vector<std::string>{At("before.txt"), At("sub/after.txt")}));
  EXPECT_EQ(stats.entries_seen, 5u);
}

TEST_P(WalkTest, MissingRootOrFileAsRootCountsAsUnreadable) {
  File("plain.txt");
  for (const std::string& root : {m_base + "/nowhere", At("plain.txt"), std::string()}) {
    WalkStats stats;
    EXPECT_TRUE(Walk(root, &stats).empty()) << root;
    EXPECT_EQ(stats.unreadable_dirs, 1u) << root;
  }
}

// Permission bits do not stop root, so this case makes the directory vanish instead: the parent's
// files are reported before its subdirectories are opened.
TEST_F(WalkFixture, DirectoryThatGoesAwayDuringTheWalkIsCountedAndSkipped) {
  File("a.txt");
  File("gone/lost.txt");
  File("kept/found.txt");
  File("swapped/hidden.txt");
  File("../elsewhere/other.txt");
  std::vector<std::string> paths;
  const WalkStats stats = WalkDirectory(
      m_root,
      [&](const WalkEntry& entry) {
        paths.emplace_back(entry.Path());
        if (entry.Name() == "a.txt") {
          fs::remove_all(At("gone"));
          // A directory swapped for a link after it was listed must not lead out of the tree.
          fs::remove_all(At("swapped"));
          fs::create_directory_symlink(m_base + "/elsewhere", At("swapped"));
        }
      },
      {}, Options());
  EXPECT_EQ(paths, (std::vector<std::string>{At("a.txt"), At("kept/found.txt")}));
  EXPECT_EQ(stats.unreadable_dirs, 2u);
}

TEST_P(WalkTest, DirectoryWithoutReadPermissionIsCountedAndSkipped) {
  if (geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root";
  File("a.txt");
  File("locked/secret.txt");
  File("open/b.txt");
  fs::permissions(At("locked"), fs::perms::none);
  WalkStats stats;
  EXPECT_EQ(Walk(m_root, &stats), (std::vector<std::string>{At("a.txt"), At("open/b.txt")}));
  EXPECT_EQ(stats.unreadable_dirs, 1u);
  fs::permissions(At("locked"), fs::perms::owner_all);
}

TEST_P(WalkTest, BindMountOfAnAncestorIsNotEnteredAgain) {
  File("top.txt");
  File("sub/mid.txt");
  Dir("sub/again");
  if (mount(m_root.c_str(), At("sub/again").c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "cannot bind-mount here";
  }
  m_mounts.push_back(At("sub/again"));
  WalkStats stats;
  EXPECT_EQ(Walk(m_root, &stats), (std::vector<std::string>{At("top.txt"), At("sub/mid.txt")}));
  EXPECT_EQ(stats.loops_skipped, 1u);
  EXPECT_EQ(stats.unreadable_dirs, 0u);
}

TEST_P(WalkTest, PathsLongerThanThePathLimitAreWalked) {
  // 300 levels of 20-byte names make paths of over 6000 bytes, beyond PATH_MAX.
  const std::string name(20, 'd');
  int fd = open(m_root.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  std::string expected = m_root;
  for (int level = 0; level < 300; ++level) {
    ASSERT_EQ(mkdirat(fd, name.c_str(), 0700), 0);
    const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    expected += "/" + name;
  }
  const int file = openat(fd, "leaf.txt", O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(file, 0);
  close(file);
  close(fd);
  WalkStats stats;
  EXPECT_EQ(Walk(m_root, &stats), (std::vector<std::string>{expected + "/leaf.txt"}));
  EXPECT_EQ(stats.unreadable_dirs, 0u);
}

TEST_P(WalkTest, StatDescribesTheFileAndIsTakenOnce) {
  File("data.bin", std::string(532, 'q'));
  const timespec times[2] = {{1000000000, 0}, {1569571503, 250}};
  ASSERT_EQ(utimensat(AT_FDCWD, At("data.bin").c_str(), times, 0), 0);
  struct stat st;
  ASSERT_EQ(stat(At("data.bin").c_str(), &st), 0);
  int calls = 0;
  WalkDirectory(
      m_root,
      [&](const WalkEntry& entry) {
        ++calls;
        const std::optional<FileStat>& first = entry.Stat();
        ASSERT_TRUE(first.has_value());
        EXPECT_EQ(first->bytes, 532u);
        EXPECT_EQ(first->device, static_cast<uint64_t>(st.st_dev));
        EXPECT_EQ(first->inode, static_cast<uint64_t>(st.st_ino));
        EXPECT_EQ(first->modified, (FileTime{1569571503, 250}));
        // The answer is kept: a second call does not ask again.
        fs::remove(entry.Path());
        EXPECT_TRUE(entry.Stat().has_value());
      },
      {}, Options());
  EXPECT_EQ(calls, 1);
}

TEST_P(WalkTest, StatIsEmptyForAFileThatVanishedOrIsNoLongerRegular) {
  File("a-gone.txt");
  File("b-now-dir.txt");
  File("c-now-link.txt");
  File("d-still.txt");
  std::vector<bool> present;
  WalkDirectory(
      m_root,
      [&](const WalkEntry& entry) {
        if (entry.Name() == "a-gone.txt") {
          fs::remove(entry.Path());
        } else if (entry.Name() == "b-now-dir.txt") {
          fs::remove(entry.Path());
          fs::create_directory(entry.Path());
        } else if (entry.Name() == "c-now-link.txt") {
          fs::remove(entry.Path());
          fs::create_symlink("d-still.txt", entry.Path());
        }
        present.push_back(entry.Stat().has_value());
      },
      {}, Options());
  EXPECT_EQ(present, (std::vector<bool>{false, false, false, true}));
}

// Open descriptors of this process, to see that every way out of a walk closes what it opened.
size_t OpenDescriptorCount() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

TEST_P(WalkTest, StopRequestEndsTheWalkEarlyAndClosesEverything) {
  for (int i = 0; i < 5; ++i)
    File("f" + std::to_string(i));
  File("sub/deep/stop-here.txt");
  File("sub/deep/zz-never.txt");
  File("sub/zz/never.txt");
  File("zz/never.txt");
  const size_t open_before = OpenDescriptorCount();
  std::stop_source source;
  std::vector<std::string> paths;
  const WalkStats stats = WalkDirectory(
      m_root,
      [&](const WalkEntry& entry) {
        paths.emplace_back(entry.Path());
        if (entry.Name() == "stop-here.txt") source.request_stop();
      },
      source.get_token(), Options());
  EXPECT_EQ(paths.size(), 6u);
  EXPECT_EQ(paths.back(), At("sub/deep/stop-here.txt"));
  EXPECT_TRUE(stats.stopped);
  EXPECT_EQ(OpenDescriptorCount(), open_before);
}

}  // namespace
}  // namespace quelvane
