#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "../support/fixture.h"
#include "../support/run_process.h"

namespace quelvane {
namespace {

namespace fs = std::filesystem;
using namespace quelvane::testing;

const std::string kCli = QUELVANE_CLI_PATH;

class CliActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_tmp.ok());
    fs::create_directories(m_dir + "/src/sub");
    fs::create_directories(m_dir + "/out");
    Write("src/a.txt", "first");
    Write("src/sub/a.txt", "second");
    Write("out/a.txt", "already there");
  }
  void Write(const std::string& rel, const std::string& bytes) { WriteFile(m_tmp / rel, bytes); }
  TempDir m_tmp;
  std::string m_dir = m_tmp.path();
};

TEST_F(CliActionsTest, DryRunPrintsThePlanAndChangesNothing) {
  auto r = RunProcess(
      kCli, {"-e", "txt", "-q", "--move-to", m_dir + "/out", "--dry-run", m_dir + "/src"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string out = m_dir + "/out/";
  EXPECT_EQ(r.err,
            "查找完成，共找到2项文件。\n"
            "move\t" +
                m_dir + "/src/a.txt\t" + out +
                "a（有重名的——Quelvane）.txt\n"
                "move\t" +
                m_dir + "/src/sub/a.txt\t" + out + "a（有重名的——Quelvane）(2).txt\n");
  EXPECT_TRUE(fs::exists(m_dir + "/src/a.txt"));
  EXPECT_EQ(std::distance(fs::directory_iterator(m_dir + "/out"), fs::directory_iterator()), 1);
  EXPECT_NE(r.out.find("a.txt"), std::string::npos);  // the list still goes to standard output
}

TEST_F(CliActionsTest, CopyKeepsEveryFileAndReportsClashes) {
  auto r = RunProcess(kCli, {"-e", "txt", "-q", "--copy-to", m_dir + "/out", m_dir + "/src"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("复制任务完成，共完成复制对象：2个。其中有重名的：2个。"),
            std::string::npos);
  EXPECT_EQ(ReadFile(m_dir + "/out/a.txt"), "already there");
  EXPECT_EQ(ReadFile(m_dir + "/out/a（有重名的——Quelvane）.txt"), "first");
  EXPECT_EQ(ReadFile(m_dir + "/out/a（有重名的——Quelvane）(2).txt"), "second");
}

TEST_F(CliActionsTest, MoveIntoMissingFolderFails) {
  auto r = RunProcess(kCli, {"-e", "txt", "-q", "--move-to", m_dir + "/nope", m_dir + "/src"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("目标目录不存在！"), std::string::npos);
  EXPECT_TRUE(fs::exists(m_dir + "/src/a.txt"));
}

TEST_F(CliActionsTest, DeleteCheckedWithYes) {
  auto dry = RunProcess(kCli, {"-e", "txt", "-q", "--delete-checked", "--dry-run", m_dir + "/src"});
  EXPECT_EQ(dry.status, 0);
  EXPECT_NE(dry.err.find("delete\t" + m_dir + "/src/sub/a.txt\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(m_dir + "/src/sub/a.txt"));
  auto r = RunProcess(kCli, {"-e", "txt", "-q", "--delete-checked", "--yes", m_dir + "/src"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("完成删除任务，共删除文件：2个。"), std::string::npos);
  EXPECT_FALSE(fs::exists(m_dir + "/src/a.txt"));
  EXPECT_TRUE(fs::exists(m_dir + "/out/a.txt"));
}

TEST_F(CliActionsTest, ExportWritesWorkbookOrFails) {
  for (const char* name : {"list.xls", "LIST.XLSX"}) {
    auto r = RunProcess(kCli, {"-e", "txt", "-q", "--export", m_dir + "/" + name, m_dir + "/src"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_GT(fs::file_size(m_dir + "/" + name), 0u);
  }
  auto bad =
      RunProcess(kCli, {"-e", "txt", "-q", "--export", m_dir + "/src/a.txt/x.xls", m_dir + "/src"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("导出失败：Not a directory\n"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace quelvane
