#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fileops/clash_names.h"
#include "fileops/copy_move.h"
#include "results/result_list.h"
#include "view/recording_view.h"

#include "../support/fixture.h"
#include "../support/list_rows.h"

namespace quelvane {
namespace {

using namespace quelvane::testing;

const std::string S(ClashSuffix);

// Everything a folder holds, as name -> bytes ("<dir>" for a folder).
std::map<std::string, std::string> Contents(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    out[name] = entry.is_directory() ? "<dir>" : ReadFile(entry.path().string());
  }
  return out;
}

// A ticked row for a file, as a find would add it.
int AddRow(ResultList& list, const std::string& path, bool checked = true) {
  return AddFileRow(list, path, "", checked);
}

TransferReport RunCommand(TransferKind kind, const ResultList& list, RecordingView& view) {
  return kind == TransferKind::Copy ? CopyToTarget(list, view) : MoveToTarget(list, view);
}

TEST(CopyToTarget, ExactScreenAndMessages) {
  TempDir dir;
  WriteFile(dir / "src/a.txt", "A");
  WriteFile(dir / "src/b.txt", "B");
  WriteFile(dir / "out/a.txt", "old");
  ResultList list;
  AddRow(list, dir / "src/a.txt");
  AddRow(list, dir / "src/skip.txt", false);
  AddRow(list, dir / "src/b.txt");
  RecordingView view;
  view.edits[kTargetDirEdit] = dir / "out";
  TransferReport report = CopyToTarget(list, view);
  const std::vector<std::string> expected = {
      "button-caption|超级按钮5|复制中……",
      "button-enabled|超级按钮5|0",
      "progress-show|1",
      "panes-clear",
      "pane-add|开始复制：|100|noborder",
      "pane-add||-1|noborder",
      "progress-over|1",
      "progress-pos|0",
      "progress-range|0|2",
      "progress-pos|1",
      "progress-pos|2",
      "progress-pos|3",
      "button-caption|超级按钮5|复制到目标文件夹",
      "button-enabled|超级按钮5|1",
      "message|64|信息：|复制任务完成，共完成复制对象：2个。其中有重名的：1个。",
      "pane-text|0|复制完成。",
  };
  EXPECT_EQ(view.log, expected);
  EXPECT_EQ(report.checked, 2);
  EXPECT_EQ(report.clashes, 1);
  EXPECT_EQ(report.done, 2);
  EXPECT_EQ(report.failed, 0);
  EXPECT_EQ(ReadFile(dir / "out/a.txt"), "old");
  EXPECT_EQ(ReadFile(dir / ("out/a" + S + ".txt")), "A");
  EXPECT_EQ(ReadFile(dir / "src/a.txt"), "A");
  EXPECT_EQ(list.CellText(0, ColPath), dir / "src/a.txt");  // rows are not changed
}

TEST(MoveToTarget, ExactScreenAndMessages) {
  TempDir dir;
  WriteFile(dir / "src/a.txt", "A");
  WriteFile(dir / "out/keep", "");
  ResultList list;
  AddRow(list, dir / "src/a.txt");
  RecordingView view;
  view.edits[kTargetDirEdit] = dir / "out/";  // a trailing slash is not doubled
  MoveToTarget(list, view);
  const std::vector<std::string> expected = {
      "button-caption|超级按钮2|移动中……",
      "button-enabled|超级按钮2|0",
      "progress-show|1",
      "panes-clear",
      "pane-add|开始剪切：|100|noborder",
      "pane-add||-1|noborder",
      "progress-over|1",
      "progress-pos|0",
      "progress-range|0|1",
      "progress-pos|1",
      "message|64|信息：|移动文件任务完成，共完成移动文件：1个。其中目标文件夹中有重名的：0个。",
      "button-caption|超级按钮2|剪切到目标文件夹",
      "button-enabled|超级按钮2|1",
      "pane-text|0|剪切完成。",
  };
  EXPECT_EQ(view.log, expected);
  EXPECT_FALSE(Exists(dir / "src/a.txt"));
  EXPECT_EQ(ReadFile(dir / "out/a.txt"), "A");
  EXPECT_EQ(list.CellText(0, ColPath), dir / "src/a.txt");
}

struct ClashCase {
  const char* what;
  std::vector<std::string> sources;           // under src/, one ticked row each, in order
  std::map<std::string, std::string> target;  // what the target holds beforehand
  std::vector<std::string> landed;            // where each source ends up, in order
  int clashes;
};

std::vector<ClashCase> ClashCases() {
  return {
      {"plain", {"report.doc"}, {}, {"report.doc"}, 0},
      {"report.doc", {"report.doc"}, {{"report.doc", "x"}}, {"report" + S + ".doc"}, 1},
      {"archive.tar.gz",
       {"archive.tar.gz"},
       {{"archive.tar.gz", "x"}},
       {"archive.tar" + S + ".gz"},
       1},
      {"README", {"README"}, {{"README", "x"}}, {"README" + S}, 1},
      {"two rows of one name", {"1/a.txt", "2/a.txt"}, {}, {"a.txt", "a" + S + ".txt"}, 1},
      {"third clash",
       {"1/a.txt", "2/a.txt"},
       {{"a.txt", "x"}, {"a" + S + ".txt", "y"}},
       {"a" + S + "(2).txt", "a" + S + "(3).txt"},
       2},
      {"a directory named like the file", {"a.txt"}, {{"a.txt", "<dir>"}}, {"a" + S + ".txt"}, 1},
  };
}

// Both commands, every clash case: the plan names the same places the run uses, nothing that
// was in the target changes, and each file lands whole.
TEST(TransferToTarget, ClashNamesNeverReplaceAnything) {
  for (TransferKind kind : {TransferKind::Copy, TransferKind::Move}) {
    for (const ClashCase& c : ClashCases()) {
      SCOPED_TRACE(std::string(c.what) + (kind == TransferKind::Copy ? " (copy)" : " (move)"));
      TempDir dir;
      std::filesystem::create_directories(dir / "out");
      for (const auto& [name, bytes] : c.target) {
        if (bytes == "<dir>") {
          std::filesystem::create_directories(dir / ("out/" + name));
        } else {
          WriteFile(dir / ("out/" + name), bytes);
        }
      }
      ResultList list;
      for (const std::string& source : c.sources) {
        WriteFile(dir / ("src/" + source), "content of " + source);
        AddRow(list, dir / ("src/" + source));
      }
      std::vector<TransferStep> plan = PlanTransfer(list, dir / "out", kind);
      RecordingView view;
      view.edits[kTargetDirEdit] = dir / "out";
      TransferReport report = RunCommand(kind, list, view);
      EXPECT_EQ(report.clashes, c.clashes);
      EXPECT_EQ(report.failed, 0);
      ASSERT_EQ(plan.size(), c.sources.size());
      std::map<std::string, std::string> after = Contents(dir / "out");
      for (const auto& [name, bytes] : c.target)
        EXPECT_EQ(after[name], bytes) << name;
      for (size_t i = 0; i < c.sources.size(); ++i) {
        EXPECT_EQ(after[c.landed[i]], "content of " + c.sources[i]);
        EXPECT_EQ(plan[i].destination, dir / ("out/" + c.landed[i]));
        EXPECT_EQ(plan[i].clash, c.landed[i] != c.sources[i].substr(c.sources[i].rfind('/') + 1));
        EXPECT_EQ(Exists(dir / ("src/" + c.sources[i])), kind == TransferKind::Copy);
      }
      EXPECT_EQ(after.size(), c.target.size() + c.sources.size());
    }
  }
}

struct TargetCase {
  const char* target;  // under the temp folder; "" for an empty edit box
  const char* message;
};

TEST(TransferToTarget, UnusableTargetTouchesNothing) {
  const TargetCase cases[] = {{"", "请设置目标目录！"},
                              {"missing", "目标目录不存在！"},
                              {"a-file", "目标目录不存在！"},
                              {"a-file/sub", "目标目录不存在！"}};
  for (TransferKind kind : {TransferKind::Copy, TransferKind::Move}) {
    for (const TargetCase& c : cases) {
      SCOPED_TRACE(c.target);
      TempDir dir;
      WriteFile(dir / "src/a.txt", "A");
      WriteFile(dir / "a-file", "F");
      ResultList list;
      AddRow(list, dir / "src/a.txt");
      RecordingView view;
      view.edits[kTargetDirEdit] = std::string(c.target).empty() ? "" : dir / c.target;
      TransferReport report = RunCommand(kind, list, view);
      const std::string pane = kind == TransferKind::Copy ? "复制完成。" : "剪切完成。";
      EXPECT_EQ(view.log, (std::vector<std::string>{"message|64|信息：|" + std::string(c.message),
                                                    "pane-text|0|" + pane}));
      EXPECT_FALSE(report.ran);
      EXPECT_EQ(ReadFile(dir / "src/a.txt"), "A");
      EXPECT_EQ(ReadFile(dir / "a-file"), "F");
      EXPECT_EQ(Contents(dir.path()).size(), 2u);
      EXPECT_EQ(TargetProblem(view.edits[kTargetDirEdit]), std::optional<std::string>(c.message));
    }
  }
}

TEST(TransferToTarget, FailuresAreCountedAndNamed) {
  TempDir dir;
  WriteFile(dir / "src/gone.txt", "G");
  WriteFile(dir / "src/b.txt", "B");
  WriteFile(dir / "elsewhere", "secret");
  std::filesystem::create_directories(dir / "out");
  ResultList list;
  AddRow(list, dir / "src/gone.txt");
  AddRow(list, dir / "src/b.txt");
  AddRow(list, dir / "src/link.txt");
  ::unlink((dir / "src/gone.txt").c_str());  // vanished after the find
  ::symlink((dir / "elsewhere").c_str(), (dir / "src/link.txt").c_str());
  RecordingView view;
  view.edits[kTargetDirEdit] = dir / "out";
  TransferReport report = CopyToTarget(list, view);
  EXPECT_EQ(view.Messages().back(),
            "复制任务完成，共完成复制对象：3个。其中有重名的：0个。其中失败：2个。");
  EXPECT_EQ(report.done, 1);
  ASSERT_EQ(report.failures.size(), 2u);
  EXPECT_EQ(report.failures[0].path, dir / "src/gone.txt");
  EXPECT_EQ(report.failures[0].error, ENOENT);
  EXPECT_EQ(report.failures[1].path, dir / "src/link.txt");
  EXPECT_EQ(Contents(dir / "out"), (std::map<std::string, std::string>{{"b.txt", "B"}}));

  std::vector<TransferStep> plan = PlanTransfer(list, dir / "out", TransferKind::Copy);
  ASSERT_EQ(plan.size(), 3u);
  EXPECT_EQ(plan[0].error, ENOENT);
  EXPECT_TRUE(plan[0].destination.empty());
  EXPECT_TRUE(plan[1].clash);  // b.txt is in the target now
  EXPECT_EQ(plan[1].destination, dir / ("out/b" + S + ".txt"));
  EXPECT_EQ(plan[2].error, kErrNotRegular);
}

// Moving the same rows a second time: every name is in the target, every source is gone.
TEST(MoveToTarget, SecondRunCountsClashesAndFailsWithoutHarm) {
  TempDir dir;
  WriteFile(dir / "src/a.txt", "A");
  WriteFile(dir / "src/b.txt", "B");
  std::filesystem::create_directories(dir / "out");
  ResultList list;
  AddRow(list, dir / "src/a.txt");
  AddRow(list, dir / "src/b.txt");
  RecordingView first;
  first.edits[kTargetDirEdit] = dir / "out";
  MoveToTarget(list, first);
  RecordingView second;
  second.edits[kTargetDirEdit] = dir / "out";
  TransferReport report = MoveToTarget(list, second);
  EXPECT_EQ(
      second.Messages().back(),
      "移动文件任务完成，共完成移动文件：2个。其中目标文件夹中有重名的：2个。其中失败：2个。");
  EXPECT_EQ(report.failed, 2);
  EXPECT_EQ(Contents(dir / "out"),
            (std::map<std::string, std::string>{{"a.txt", "A"}, {"b.txt", "B"}}));
}

TEST(TransferToTarget, NoTickedRows) {
  TempDir dir;
  std::filesystem::create_directories(dir / "out");
  WriteFile(dir / "src/a.txt", "A");
  ResultList list;
  AddRow(list, dir / "src/a.txt", false);
  for (TransferKind kind : {TransferKind::Copy, TransferKind::Move}) {
    RecordingView view;
    view.edits[kTargetDirEdit] = dir / "out";
    RunCommand(kind, list, view);
    EXPECT_EQ(view.LinesStartingWith("progress-range"),
              std::vector<std::string>{"progress-range|0|0"});
    EXPECT_EQ(view.Messages().back(),
              kind == TransferKind::Copy
                  ? "复制任务完成，共完成复制对象：0个。其中有重名的：0个。"
                  : "移动文件任务完成，共完成移动文件：0个。其中目标文件夹中有重名的：0个。");
  }
  EXPECT_TRUE(Contents(dir / "out").empty());
  EXPECT_TRUE(Exists(dir / "src/a.txt"));
}

TEST(TransferToTarget, NameThatIsNotUtf8) {
  TempDir dir;
  const std::string name = "r\xe9sum\xe9.doc";
  WriteFile(dir / ("src/" + name), "R");
  WriteFile(dir / ("out/" + name), "old");
  ResultList list;
  AddRow(list, dir / ("src/" + name));
  RecordingView view;
  view.edits[kTargetDirEdit] = dir / "out";
  TransferReport report = MoveToTarget(list, view);
  EXPECT_EQ(report.clashes, 1);
  EXPECT_EQ(ReadFile(dir / ("out/r\xe9sum\xe9" + S + ".doc")), "R");
  EXPECT_EQ(ReadFile(dir / ("out/" + name)), "old");
}

TEST(CopyToTarget, KeepsTheModificationTime) {
  TempDir dir;
  WriteFile(dir / "src/a.txt", "A");
  const struct timespec times[2] = {{1000000000, 0}, {1234567890, 250000000}};
  ::utimensat(AT_FDCWD, (dir / "src/a.txt").c_str(), times, 0);
  std::filesystem::create_directories(dir / "out");
  ResultList list;
  AddRow(list, dir / "src/a.txt");
  RecordingView view;
  view.edits[kTargetDirEdit] = dir / "out";
  CopyToTarget(list, view);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "out/a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
  EXPECT_EQ(st.st_mtim.tv_nsec, 250000000);
}

}  // namespace
}  // namespace quelvane
