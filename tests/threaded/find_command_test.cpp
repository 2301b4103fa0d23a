#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "../support/filter_settings.h"
#include "../support/fixture.h"
#include "results/result_list.h"
#include "search/find_command.h"
#include "view/event_loop.h"
#include "view/recording_view.h"

namespace quelvane {
namespace {

namespace fs = std::filesystem;
using namespace quelvane::testing;

class FindCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_tmp.ok());
    m_view.edits[kSearchDirEdit] = m_dir;
  }
  void Write(const std::string& rel, const std::string& bytes) { WriteFile(m_tmp / rel, bytes); }
  // Runs one find to its end; returns how it ended and whether the hand-off ran.
  FindReport RunFind(bool* handed_off = nullptr) {
    FindCommand find(m_list, m_view, m_loop);
    bool done = false;
    FindReport report;
    auto end = [&](const FindReport& r) {
      report = r;
      done = true;
    };
    find.Run(
        m_settings,
        [&](const FindReport& r) {
          if (handed_off) *handed_off = true;
          end(r);
        },
        end);
    m_loop.RunUntil([&] { return done; });
    return report;
  }
  TempDir m_tmp;
  std::string m_dir = m_tmp.path();
  RecordingView m_view;
  EventLoop m_loop;
  ResultList m_list;
  FilterSettings m_settings = Settings("mp4");
};

TEST_F(FindCommandTest, RefusalsKeepPreviousRows) {
  m_list.AppendRow();
  m_list.SetCellColour(0, 1, kColourRed);
  struct Case {
    std::string dir, ext, message;
  } cases[] = {
      {"", "mp4", "请添加查找目录！"},
      {"*", "如需添加类型用,(半角逗号)隔开。",
       "请在左上角\"筛选设置\"图标进行设置，然后点击\"应用并关闭\"按钮。"},
      {"*", "", "请先点击左上方的筛选设置，进行设置！"},
      {"/nonexistent/quelvane", "mp4", "查找目录不存在！"},
      {"*file", "mp4", "查找目录不存在！"},
  };
  Write("plain.txt", "x");
  for (const auto& c : cases) {
    m_view.log.clear();
    m_view.edits[kSearchDirEdit] = c.dir == "*"       ? m_dir
                                   : c.dir == "*file" ? m_dir + "/plain.txt"
                                                      : c.dir;
    m_settings.ExtensionList = c.ext;
    FindReport report = RunFind();
    EXPECT_TRUE(report.refused);
    EXPECT_EQ(m_view.log, (std::vector<std::string>{"panes-clear", "progress-show|0",
                                                    "message|64|信息：|" + c.message}));
    EXPECT_EQ(m_list.RowCount(), 1);
    EXPECT_TRUE(m_list.CellColourTable().empty());
  }
}

TEST_F(FindCommandTest, FindWithRowsTicksEverythingAndReports) {
  Write("b.mp4", "bb");
  Write("a.MP4", "a");
  Write("sub/c.mp4", "ccc");
  Write("note.txt", "n");
  FindReport report = RunFind();
  EXPECT_FALSE(report.refused);
  EXPECT_EQ(report.rows, 3);
  ASSERT_EQ(m_list.RowCount(), 3);
  const char* names[] = {"a.MP4", "b.mp4", "c.mp4"};
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(m_list.CellText(r, ColSeq), std::to_string(r + 1));
    EXPECT_EQ(m_list.CellText(r, ColName), names[r]);
    EXPECT_TRUE(m_list.IsRowChecked(r));
  }
  EXPECT_EQ(m_list.CellText(2, ColPath), m_dir + "/sub/c.mp4");
  EXPECT_EQ(m_list.CellText(2, ColSize), "3 B");
  EXPECT_EQ(m_list.FactsAt(2).bytes, 3u);
  auto& log = m_view.log;
  std::vector<std::string> head(log.begin(), log.begin() + 7);
  EXPECT_EQ(head, (std::vector<std::string>{
                      "panes-clear", "progress-show|0", "button-caption|超级按钮1|正在查找",
                      "button-enabled|超级按钮1|0", "summary|", "pane-add| 开始查找：|100|noborder",
                      "pane-add||-1|noborder"}));
  std::vector<std::string> tail(log.end() - 8, log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "check|选择框1|1", "pane-remove|1", "pane-width|0|300",
                      "pane-text|0|  查找完成，共找到3项文件。", "summary|共找到3项文件。",
                      "message|64|信息：|查找完成，共找到3项文件。", "button-enabled|超级按钮1|1",
                      "button-caption|超级按钮1|查找文件"}));
  // The examined count reached pane 1 before the end.
  EXPECT_FALSE(m_view.LinesStartingWith("pane-text|1|4").empty());
}

TEST_F(FindCommandTest, EmptyFindKeepsPanesAndSelectAll) {
  Write("x.txt", "x");
  m_list.AppendRow();
  RunFind();
  EXPECT_EQ(m_list.RowCount(), 0);  // the previous rows are gone
  EXPECT_TRUE(m_view.LinesStartingWith("check|").empty());
  EXPECT_EQ(m_view.panes, (std::vector<std::string>{" 开始查找：", "1"}));
  EXPECT_EQ(m_view.Messages().back(), "查找完成，共找到0项文件。");
  EXPECT_EQ(m_view.summary, "共找到0项文件。");
}

TEST_F(FindCommandTest, DuplicatesHandOffLeavesButtonDisabled) {
  Write("a.mp4", "a");
  m_settings.ShowDuplicates = true;
  bool handed_off = false;
  RunFind(&handed_off);
  EXPECT_TRUE(handed_off);
  EXPECT_TRUE(m_view.Messages().empty());
  EXPECT_FALSE(m_view.enabled[kFindButton]);
  EXPECT_EQ(m_view.captions[kFindButton], "正在查找");
}

TEST_F(FindCommandTest, DestroyedWhileWalkingStopsCleanly) {
  for (int i = 0; i < 200; ++i)
    Write("d" + std::to_string(i % 20) + "/f" + std::to_string(i) + ".mp4", "x");
  {
    FindCommand find(m_list, m_view, m_loop);
    find.Run(m_settings, {}, {});
  }
  // Work the walk posted after the command was gone must do nothing.
  m_loop.RunPending();
  SUCCEED();
}

}  // namespace
}  // namespace quelvane
