// The export command end to end: the save dialog, the worker, the message through the loop.
#include <gtest/gtest.h>

#include "../support/export_reader.h"
#include "fileops/export_command.h"
#include "view/event_loop.h"
#include "view/recording_view.h"

namespace quelvane {
namespace {

using testing::ExportTempDir;
using testing::ReadBack;
using Row = std::array<std::string, kColumnCount>;

RowData MakeRowData(const Row& cells) {
  RowData data;
  data.cells = cells;
  return data;
}

class ExportCommandTest : public ::testing::Test {
 protected:
  // Runs the command and the loop until the command reports back.
  ExportOutcome Run(ExportCommand& command) {
    bool done = false;
    ExportOutcome outcome;
    command.ExportToExcel(m_list, [&](const ExportOutcome& o) {
      outcome = o;
      done = true;
    });
    m_loop.RunUntil([&] { return done; });
    return outcome;
  }

  ExportTempDir m_dir;
  RecordingView m_view;
  EventLoop m_loop;
  ResultList m_list;
};

TEST_F(ExportCommandTest, CancelledDialogWritesNothingAndSaysNothing) {
  m_list.AppendRow(MakeRowData({"", "1", "a.txt", "/a.txt", "1 B", "", "", "", ""}));
  ExportCommand command(m_view, m_loop);
  ExportOutcome outcome = Run(command);
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_EQ(m_view.log, std::vector<std::string>{"ask-save|*.xls;*.xlsx"});
  EXPECT_TRUE(m_dir.Names().empty());
}

TEST_F(ExportCommandTest, WritesEveryRowInTheListsCurrentOrderFromASnapshot) {
  Row c = {"", "1", "c.mp4", "/v/c.mp4", "3 KB", "2020-01-01 00:00:00", "", "无", ""};
  Row a = {"",
           "2",
           "a.mp4",
           "/v/a.mp4",
           "12.5 KB",
           "",
           "2021-02-03 04:05:06",
           "重复文件第1组",
           "0123456789abcdef0123456789abcdef"};
  Row b = {"", "007", "b.mp4", "/v/b.mp4", "0", "", "", "无", ""};
  m_list.AppendRows({MakeRowData(c), MakeRowData(a), MakeRowData(b)});
  m_list.SetRowChecked(0, true);  // the others stay unchecked
  m_list.SortByColumn(ColName, ByText, true);
  m_view.save_answers.push_back(SaveChoice{m_dir / "liste", 1});

  ExportCommand command(m_view, m_loop);
  bool done = false;
  ExportOutcome outcome;
  command.ExportToExcel(m_list, [&](const ExportOutcome& o) {
    outcome = o;
    done = true;
  });
  EXPECT_TRUE(command.Busy());
  m_list.ClearRows();  // the worker writes what the list held when the command ran
  m_loop.RunUntil([&] { return done; });

  EXPECT_FALSE(outcome.cancelled);
  EXPECT_EQ(outcome.path, m_dir / "liste.xlsx");
  EXPECT_TRUE(outcome.result.ok);
  EXPECT_FALSE(command.Busy());
  EXPECT_EQ(m_view.log, (std::vector<std::string>{
                            "ask-save|*.xls;*.xlsx", "button-enabled|超级按钮6|0",
                            "button-enabled|超级按钮6|1", "message|64|信息：|导出完成！"}));
  auto back = ReadBack(m_dir / "liste.xlsx", {{a, b, c}});
  EXPECT_TRUE(back.ok) << back.report;
}

TEST_F(ExportCommandTest, FailureIsReportedWithTheSystemsErrorText) {
  std::ofstream(m_dir / "file") << "x";
  struct Case {
    std::string path;
    std::string message;
  } cases[] = {
      {m_dir / "missing/liste", "导出失败：No such file or directory"},
      {m_dir / "file/liste.xls", "导出失败：Not a directory"},
  };
  ExportCommand command(m_view, m_loop);
  for (const auto& c : cases) {
    m_view.log.clear();
    m_view.save_answers.push_back(SaveChoice{c.path, 0});
    ExportOutcome outcome = Run(command);
    EXPECT_FALSE(outcome.result.ok);
    EXPECT_EQ(m_view.Messages(), std::vector<std::string>{c.message});
    EXPECT_EQ(m_view.LinesStartingWith("message|64|"), m_view.LinesStartingWith("message|"));
    EXPECT_EQ(m_view.enabled[kExportButton], true);
  }
  EXPECT_EQ(m_dir.Names(), std::vector<std::string>{"file"});
}

TEST_F(ExportCommandTest, SecondRequestWhileBusyIsIgnored) {
  for (int i = 0; i < 20000; ++i)
    m_list.AppendRow(MakeRowData({"", std::to_string(i), "n", "/p", "1 B", "", "", "", ""}));
  m_view.save_answers.push_back(SaveChoice{m_dir / "one.xls", 0});
  m_view.save_answers.push_back(SaveChoice{m_dir / "two.xls", 0});
  ExportCommand command(m_view, m_loop);
  bool done = false;
  command.ExportToExcel(m_list, [&](const ExportOutcome&) { done = true; });
  command.ExportToExcel(m_list, [&](const ExportOutcome&) { ADD_FAILURE() << "second ran"; });
  m_loop.RunUntil([&] { return done; });
  EXPECT_EQ(m_view.LinesStartingWith("ask-save").size(), 1u);
  EXPECT_EQ(m_dir.Names(), std::vector<std::string>{"one.xls"});
}

TEST_F(ExportCommandTest, ClosingDuringAnExportLeavesNoTemporaryFileAndNoMessage) {
  for (int i = 0; i < 200000; ++i)
    m_list.AppendRow(
        MakeRowData({"", std::to_string(i), "name " + std::to_string(i),
                     "/some/folder/name " + std::to_string(i), "1 KB", "", "", "", ""}));
  m_view.save_answers.push_back(SaveChoice{m_dir / "big.xlsx", 0});
  {
    ExportCommand command(m_view, m_loop);
    command.ExportToExcel(m_list);
  }  // stops the worker and waits for it
  m_loop.RunPending();
  EXPECT_TRUE(m_view.Messages().empty());
  for (const std::string& name : m_dir.Names())
    EXPECT_EQ(name, "big.xlsx");
}

}  // namespace
}  // namespace quelvane
