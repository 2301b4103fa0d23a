// The file filter on real files: the rows it makes and the files it leaves out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/dir_walker.h"
#include "search/file_filter.h"
#include "search/filter_settings.h"

#include "../support/filter_settings.h"

namespace quelvane {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kGiB = 1073741824;

using quelvane::testing::Settings;

std::string LocalText(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm local;
  localtime_r(&t, &local);
  char text[32];
  return std::string(text, strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local));
}

class FilterRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quelvane-filter-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_root = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
  }

  std::string File(const std::string& relative, size_t bytes = 1) {
    const fs::path path = fs::path(m_root) / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
    return path.string();
  }

  std::vector<RowData> Find(const FileFilter& filter) {
    std::vector<RowData> rows;
    WalkDirectory(m_root, [&](const WalkEntry& entry) {
      if (std::optional<RowData> row = filter.Examine(entry)) rows.push_back(std::move(*row));
    });
    return rows;
  }

  std::string m_root;
};

TEST_F(FilterRowsTest, RowCarriesNamePathSizeTimesAndFacts) {
  const std::string path = File("clips/song.mp3", 532);
  const timespec times[2] = {{1000000000, 0}, {1569571503, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  File("clips/empty.mp3", 0);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  struct statx sx;
  ASSERT_EQ(statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx), 0);

  const std::vector<RowData> rows = Find(FileFilter(Settings("mp3")));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].cells[ColName], "empty.mp3");
  EXPECT_EQ(rows[0].cells[ColSize], "0");
  const RowData& row = rows[1];
  EXPECT_EQ(row.cells[ColName], "song.mp3");
  EXPECT_EQ(row.cells[ColPath], path);
  EXPECT_EQ(row.cells[ColSize], "532 B");
  EXPECT_EQ(row.cells[ColModified], LocalText(1569571503));
  const bool has_birth = (sx.stx_mask & STATX_BTIME) != 0;
  EXPECT_EQ(row.cells[ColCreated], has_birth ? LocalText(sx.stx_btime.tv_sec) : "");
  EXPECT_EQ(row.facts.bytes, 532u);
  EXPECT_EQ(row.facts.device, static_cast<uint64_t>(st.st_dev));
  EXPECT_EQ(row.facts.inode, static_cast<uint64_t>(st.st_ino));
  // Left to the list's owner and to the duplicate pass.
  for (int column : {ColCheck, ColSeq, ColDupState, ColDigest}) {
    EXPECT_EQ(row.cells[column], "") << column;
  }
}

TEST_F(FilterRowsTest, UpperCaseExtensionFromACameraIsFound) {
  File("DCIM/IMG_0001.JPG");
  File("DCIM/IMG_0002.jpg");
  File("DCIM/IMG_0003.Jpeg");
  const std::vector<RowData> rows = Find(FileFilter(Settings("jpg")));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].cells[ColName], "IMG_0001.JPG");
  EXPECT_EQ(rows[1].cells[ColName], "IMG_0002.jpg");
}

TEST_F(FilterRowsTest, FiveGibibyteFileComparesAsItsFullSize) {
  const std::string path = m_root + "/big.iso";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  const bool sized = ftruncate(fd, static_cast<off_t>(5 * kGiB)) == 0;  // sparse: no disk used
  close(fd);
  if (!sized) GTEST_SKIP() << "the file system refuses a 5 GiB file";
  struct Case {
    std::string comparison;
    int64_t gigabytes;
    bool listed;
  };
  const std::vector<Case> cases = {
      {kSkipLarger, 4, false}, {kSkipLarger, 5, true},   {kSkipEqual, 5, false},
      {kSkipEqual, 4, true},   {kSkipSmaller, 6, false}, {kSkipSmaller, 5, true},
  };
  for (const Case& c : cases) {
    FilterSettings s = Settings("iso");
    s.SizeFilterMode = kFilterOn;
    s.SizeComparison = c.comparison;
    s.SizeValue = c.gigabytes;
    s.SizeUnit = "GB";
    const std::vector<RowData> rows = Find(FileFilter(s));
    ASSERT_EQ(rows.size(), c.listed ? 1u : 0u) << c.comparison << " " << c.gigabytes;
    if (c.listed) {
      EXPECT_EQ(rows[0].facts.bytes, 5 * kGiB);
      EXPECT_EQ(rows[0].cells[ColSize], "5.00 GB");
    }
  }
}

TEST_F(FilterRowsTest, KeywordInAFolderNameDoesNotCount) {
  File("样片/旅行.mp4");
  File("旅行/样片2.mp4");
  FilterSettings s = Settings("mp4");
  s.NameFilterMode = kNameSkip;
  s.NameKeywords = "样片";
  const std::vector<RowData> rows = Find(FileFilter(s));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].cells[ColPath], m_root + "/样片/旅行.mp4");
}

TEST_F(FilterRowsTest, VanishedFileGetsNoRowButIsCounted) {
  File("a.mp4");
  File("b.mp4");
  File("c.txt");
  File("d.mp4");
  const FileFilter filter(Settings("mp4,mp4"));
  std::vector<std::string> names;
  WalkDirectory(m_root, [&](const WalkEntry& entry) {
    if (entry.Name() == "b.mp4") fs::remove(entry.Path());
    if (std::optional<RowData> row = filter.Examine(entry)) names.push_back(row->cells[ColName]);
  });
  EXPECT_EQ(names, (std::vector<std::string>{"a.mp4", "d.mp4"}));  // one row each
  EXPECT_EQ(filter.ExaminedCount(), 4u);
}

TEST_F(FilterRowsTest, NonUtf8NameIsListedAsItsBytes) {
  const std::string name = "\xb2\xe2\xca\xd4.mp4";  // GBK bytes, not UTF-8
  File(name, 3);
  const std::vector<RowData> rows = Find(FileFilter(Settings("mp4")));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].cells[ColName], name);
  EXPECT_EQ(rows[0].cells[ColPath], m_root + "/" + name);
  EXPECT_EQ(rows[0].cells[ColSize], "3 B");
}

}  // namespace
}  // namespace quelvane
