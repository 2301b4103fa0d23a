// Workbooks written to real temp folders and read back with xlrd / openpyxl.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <regex>

#include "../support/export_reader.h"
#include "fileops/cfb_writer.h"
#include "fileops/export_command.h"
#include "fileops/workbook.h"

namespace quelvane {
namespace {

using testing::ExportTempDir;
using testing::FileBytes;
using testing::ReadBack;
using Row = std::array<std::string, kColumnCount>;

Row MakeRow(std::string seq, std::string name, std::string path, std::string size,
            std::string created, std::string modified, std::string dup, std::string md5) {
  return {"", seq, name, path, size, created, modified, dup, md5};
}

WorkbookSnapshot TrickyList() {
  WorkbookSnapshot list;
  auto& rows = list.rows;
  rows.push_back(MakeRow("007", "报告.docx", "/home/用户/报告.docx", "12.5 KB",
                         "2019-09-01 10:00:00", "2019-09-01 10:00:00", "无",
                         "0123456789abcdef0123456789abcdef"));
  rows.push_back(MakeRow("1", "_x0041_.txt", "/a/_x0041_.txt", "0", "", "", "重复文件第1组",
                         "00000000000000000000000000000001"));
  // Escape-like texts, including one that meets a control character right after its digits.
  rows.push_back(MakeRow("2", "_X00e9_", "a_x005F_b", "__x0041_x", "_x0041", "_x0041\x01", "_x12",
                         "x_x004G_"));
  rows.push_back(MakeRow("3", "a\x01z", "tab\there", "line\nfeed", "cr\rx", "\x1f\x0b\x0c",
                         std::string("nul\0x", 5), "\x7f"));
  // Invalid UTF-8: a stray byte, a cut sequence, an encoded surrogate, an overlong form.
  rows.push_back(
      MakeRow("4", "bad\xff\xfename", "\xe4\xb8", "\xed\xa0\x80", "\xc0\xaf", "ok\x80", "", ""));
  rows.push_back(MakeRow("5", "😀 smile", "\xef\xbf\xbe\xef\xbf\xbf", "  lead", "trail  ",
                         "<a&b>\"'", "]]>", " "));
  std::string wide, narrow;
  for (int i = 0; i < 3000; ++i)
    wide += "长";
  for (int i = 0; i < 9000; ++i)
    narrow += static_cast<char>('a' + i % 26);
  // Long texts run across CONTINUE records, wide and 8-bit.
  rows.push_back(MakeRow("6", wide, narrow, wide + narrow, narrow + "é", "", "", ""));
  rows.push_back(MakeRow("", "", "", "", "", "", "", ""));
  return list;
}

WorkbookSnapshot NumberedList(size_t count) {
  WorkbookSnapshot list;
  char md5[40];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(md5, sizeof md5, "%032zx", i * 2654435761u);
    std::string n = std::to_string(i + 1);
    list.rows.push_back(
        MakeRow(n, "文件_" + n + ".mp4", "/home/用户/视频/第" + n + "集/文件_" + n + ".mp4",
                std::to_string(i % 1000) + ".5 MB", "2020-01-02 03:04:05",
                i % 3 ? "2021-06-07 08:09:10" : "", i % 5 ? "无" : "加入识别", i % 2 ? md5 : ""));
  }
  return list;
}

class ExportFormatTest : public ::testing::TestWithParam<std::string> {
 protected:
  std::string Name(const std::string& stem) const { return m_dir / (stem + GetParam()); }
  ExportTempDir m_dir;
};

TEST_P(ExportFormatTest, EmptyListGivesTheTitleRowOnly) {
  std::string path = Name("empty");
  WriteResult result = WriteListToWorkbook(path, {});
  ASSERT_TRUE(result.ok) << result.error;
  auto back = ReadBack(path, {});
  EXPECT_TRUE(back.ok) << back.report;
  EXPECT_NE(back.report.find("sheets=1"), std::string::npos) << back.report;
}

TEST_P(ExportFormatTest, EveryCellReadsBackAsTheListShowsIt) {
  std::string path = Name("tricky");
  WorkbookSnapshot list = TrickyList();
  WriteResult result = WriteListToWorkbook(path, list);
  ASSERT_TRUE(result.ok) << result.error;
  auto back = ReadBack(path, list);
  EXPECT_TRUE(back.ok) << back.report;
}

TEST_P(ExportFormatTest, LongListContinuesOnFurtherSheetsUnderTheTitleRow) {
  // Sheets of 10 rows: the title row and 9 list rows each.
  for (size_t rows : {9u, 10u, 27u, 28u}) {
    std::string path = Name("split" + std::to_string(rows));
    WorkbookSnapshot list = NumberedList(rows);
    ASSERT_TRUE(WriteListToWorkbook(path, list, {}, 10).ok);
    auto back = ReadBack(path, list, 10);
    EXPECT_TRUE(back.ok) << rows << ": " << back.report;
    size_t sheets = (rows + 8) / 9;
    EXPECT_NE(back.report.find("sheets=" + std::to_string(sheets)), std::string::npos)
        << rows << ": " << back.report;
  }
}

TEST_P(ExportFormatTest, FailureGivesTheErrorAndLeavesNothingBehind) {
  std::ofstream(m_dir / "file") << "a file";
  std::filesystem::create_directory(m_dir / ("folder" + GetParam()));
  struct Case {
    std::string path;
    int error;
    std::string message;
  } cases[] = {
      {m_dir / "missing/list" + GetParam(), ENOENT, "导出失败：No such file or directory"},
      {m_dir / "file/list" + GetParam(), ENOTDIR, "导出失败：Not a directory"},
      {m_dir / "folder" + GetParam(), EISDIR, "导出失败：Is a directory"},
  };
  auto before = m_dir.Names();
  for (const auto& c : cases) {
    WriteResult result = WriteListToWorkbook(c.path, TrickyList());
    EXPECT_FALSE(result.ok) << c.path;
    EXPECT_EQ(result.error, c.error) << c.path;
    EXPECT_EQ(ExportFailureMessage(result.error), c.message);
  }
  EXPECT_EQ(m_dir.Names(), before);
  EXPECT_TRUE(std::filesystem::is_empty(m_dir / ("folder" + GetParam())));
}

TEST_P(ExportFormatTest, FailedWriteKeepsTheFileItWasToReplace) {
  std::string path = Name("kept");
  std::ofstream(path) << "old contents";
  // A file-size limit makes a write fail part-way, as a full disk would; it stops root too.
  struct rlimit old_limit {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old_limit;
  small.rlim_cur = 16 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  WriteResult result = WriteListToWorkbook(path, NumberedList(5000));
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);

  EXPECT_FALSE(result.ok);
  // libxlsxwriter loses the errno of its own temporary files; the damaged package is caught.
  EXPECT_TRUE(result.error == EFBIG || (GetParam() != ".xls" && result.error == EIO))
      << result.error;
  EXPECT_EQ(FileBytes(path), "old contents");
  EXPECT_EQ(m_dir.Names(), std::vector<std::string>{"kept" + GetParam()});
}

TEST_P(ExportFormatTest, NewFileFollowsTheUmaskAndReplacedFileKeepsItsMode) {
  mode_t old_mask = umask(027);
  std::string fresh = Name("fresh");
  WriteResult result = WriteListToWorkbook(fresh, TrickyList());
  umask(old_mask);
  ASSERT_TRUE(result.ok);
  struct stat st {};
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  std::string old = Name("old");
  std::ofstream(old) << "x";
  ASSERT_EQ(chmod(old.c_str(), 0604), 0);
  ASSERT_TRUE(WriteListToWorkbook(old, TrickyList()).ok);
  ASSERT_EQ(stat(old.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_TRUE(ReadBack(old, TrickyList()).ok);
}

TEST_P(ExportFormatTest, SavingThroughASymbolicLinkReplacesTheFileItNames) {
  std::string real = Name("real");
  std::string link = Name("link");
  std::ofstream(real) << "old";
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  WorkbookSnapshot list = NumberedList(3);
  ASSERT_TRUE(WriteListToWorkbook(link, list).ok);
  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  auto back = ReadBack(real, list);
  EXPECT_TRUE(back.ok) << back.report;
}

TEST_P(ExportFormatTest, StopRequestAbandonsTheWrite) {
  std::stop_source stop;
  stop.request_stop();
  WriteResult result = WriteListToWorkbook(Name("stopped"), NumberedList(10), stop.get_token());
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, ECANCELED);
  EXPECT_TRUE(m_dir.Names().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ExportFormatTest, ::testing::Values(".xls", ".xlsx", ".XLSX"), [](const auto& info) {
      return std::string(info.param == ".xls" ? "xls" : info.param == ".xlsx" ? "xlsx" : "XLSX");
    });

TEST(ExportXls, SeventyThousandRowsFillTwoSheetsAndNeedDifatSectors) {
  ExportTempDir dir;
  std::string path = dir / "big.xls";
  WorkbookSnapshot list = NumberedList(70000);
  ASSERT_TRUE(WriteListToWorkbook(path, list).ok);
  auto back = ReadBack(path, list);
  EXPECT_TRUE(back.ok) << back.report;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(back.report, m, std::regex("difat=(\\d+) fat=(\\d+)")))
      << back.report;
  EXPECT_GE(std::stoi(m[1]), 1);
  EXPECT_GT(std::stoi(m[2]), static_cast<int>(kCfbHeaderDifatEntries));
  EXPECT_NE(back.report.find("sheets=2"), std::string::npos) << back.report;
}

TEST(ExportWorkbook, AnotherEndingIsRefusedAndNothingIsWritten) {
  ExportTempDir dir;
  WriteResult result = WriteListToWorkbook(dir / "list.csv", TrickyList());
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, EINVAL);
  EXPECT_TRUE(dir.Names().empty());
}

}  // namespace
}  // namespace quelvane
