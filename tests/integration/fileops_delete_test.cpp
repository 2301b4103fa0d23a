#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fileops/delete_commands.h"
#include "fileops/row_commands.h"
#include "results/result_list.h"
#include "view/recording_view.h"

#include "../support/fixture.h"
#include "../support/list_rows.h"

namespace quelvane {
namespace {

using namespace quelvane::testing;

// Gives a name a new file: written beside it and renamed over it, so the inode is new.
void Replace(const std::string& path, const std::string& bytes) {
  WriteFile(path + ".new", bytes);
  ::rename((path + ".new").c_str(), path.c_str());
}

int AddRow(ResultList& list, const std::string& path, const std::string& state = "无",
           bool checked = true) {
  return AddFileRow(list, path, state, checked);
}

TEST(DeleteCheckedFiles, DeletesOnlyTheFilesThatWereFound) {
  TempDir dir;
  for (const char* name : {"a", "b", "c", "d"})
    WriteFile(dir / name, name);
  ResultList list;
  for (const char* name : {"a", "b", "c"})
    AddRow(list, dir / name);
  AddRow(list, dir / "d", "无", false);
  Replace(dir / "b", "another file under the same name");
  RecordingView view;
  DeleteReport report = DeleteCheckedFiles(list, view);
  EXPECT_EQ(view.log, (std::vector<std::string>{
                          "panes-clear", "message|49|删除文件|确定要删除列表框中选中的3项文件？",
                          "message|64|信息：|完成删除任务，共删除文件：2个。其中删除失败：1个。"}));
  EXPECT_FALSE(Exists(dir / "a"));
  EXPECT_EQ(ReadFile(dir / "b"), "another file under the same name");
  EXPECT_FALSE(Exists(dir / "c"));
  EXPECT_TRUE(Exists(dir / "d"));
  EXPECT_EQ(report.deleted, 2);
  EXPECT_EQ(report.failed, 1);
  EXPECT_EQ(list.RowCount(), 4);  // rows stay
}

TEST(DeleteCheckedFiles, AllDeletedAndNothingTicked) {
  TempDir dir;
  WriteFile(dir / "a", "a");
  ResultList list;
  AddRow(list, dir / "a");
  RecordingView view;
  DeleteCheckedFiles(list, view);
  EXPECT_EQ(view.Messages().back(), "完成删除任务，共删除文件：1个。");
  list.SetRowChecked(0, false);
  RecordingView none;
  DeleteReport report = DeleteCheckedFiles(list, none);
  EXPECT_EQ(none.Messages(), (std::vector<std::string>{"确定要删除列表框中选中的0项文件？",
                                                       "完成删除任务，共删除文件：0个。"}));
  EXPECT_EQ(report.listed, 0);
}

TEST(DeleteCommands, CancelDeletesNothing) {
  TempDir dir;
  WriteFile(dir / "a1", "same");
  WriteFile(dir / "a2", "same");
  ResultList list;
  AddRow(list, dir / "a1", "重复文件第1组");
  AddRow(list, dir / "a2", "重复文件第1组");
  list.SetSelectedRow(1);
  using Command = DeleteReport (*)(const ResultList&, View&);
  for (Command command : {&DeleteCheckedFiles, &DeleteDuplicateFiles, &DeleteCurrentFile}) {
    RecordingView view;
    view.message_answers = {Answer::Cancel};
    DeleteReport report = command(list, view);
    EXPECT_EQ(view.Messages().size(), 1u);
    EXPECT_FALSE(report.confirmed);
  }
  EXPECT_TRUE(Exists(dir / "a1"));
  EXPECT_TRUE(Exists(dir / "a2"));
}

using Step = void (*)(const TempDir& dir);
void Nothing(const TempDir&) {}

struct DupeCase {
  const char* what;
  Step before_find;                    // how the files stand when they are found
  Step after_find;                     // what happens to them between the find and the delete
  std::vector<std::string> survivors;  // of g1..g3 (group 1: g1 kept; g2, g3 duplicates)
};

// Group 1 (g1 kept, g2 and g3 listed) is disturbed in each case; group 2 (h1 kept, h2 listed)
// is left alone and is always deleted as planned.
TEST(DeleteDuplicateFiles, ReChecksEachFileJustBeforeDeleting) {
  const DupeCase cases[] = {
      {"nothing changed", Nothing, Nothing, {"g1"}},
      {"duplicate is a hard link of the kept file when found",
       [](const TempDir& d) {
         ::unlink((d / "g2").c_str());
         ::link((d / "g1").c_str(), (d / "g2").c_str());
       },
       Nothing,
       {"g1", "g2"}},
      {"kept file removed",
       Nothing,
       [](const TempDir& d) { ::unlink((d / "g1").c_str()); },
       {"g2", "g3"}},
      {"kept file replaced by an equal copy",
       Nothing,
       [](const TempDir& d) { Replace(d / "g1", "group one"); },
       {"g1", "g2", "g3"}},
      {"kept file changed in place",
       Nothing,
       [](const TempDir& d) { WriteFile(d / "g1", "group 0ne"); },
       {"g1", "g2", "g3"}},
      {"duplicate changed, same size",
       Nothing,
       [](const TempDir& d) { WriteFile(d / "g2", "group onE"); },
       {"g1", "g2"}},
      {"duplicate grew",
       Nothing,
       [](const TempDir& d) { WriteFile(d / "g3", "group one!"); },
       {"g1", "g3"}},
      {"duplicate replaced by a hard link of the kept file",
       Nothing,
       [](const TempDir& d) {
         ::unlink((d / "g2").c_str());
         ::link((d / "g1").c_str(), (d / "g2").c_str());
       },
       {"g1", "g2"}},
      {"duplicate replaced by a symbolic link to the kept file",
       Nothing,
       [](const TempDir& d) {
         ::unlink((d / "g3").c_str());
         ::symlink((d / "g1").c_str(), (d / "g3").c_str());
       },
       {"g1", "g3"}},
  };
  for (const DupeCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    for (const char* name : {"g1", "g2", "g3"})
      WriteFile(dir / name, "group one");
    for (const char* name : {"h1", "h2"})
      WriteFile(dir / name, "group two");
    WriteFile(dir / "single", "alone");
    c.before_find(dir);
    ResultList list;
    for (const char* name : {"g1", "g2", "g3"})
      AddRow(list, dir / name, "重复文件第1组");
    AddRow(list, dir / "single", "无");
    for (const char* name : {"h1", "h2"})
      AddRow(list, dir / name, "重复文件第2组");
    c.after_find(dir);
    RecordingView view;
    DeleteReport report = DeleteDuplicateFiles(list, view);
    ASSERT_EQ(view.log.size(), 2u);
    EXPECT_EQ(view.log[0],
              "message|33|信息：|您确认要删除3个重复的文件吗？删除后您可以重新查找确认已删除。");
    int skipped = 3 - report.deleted;
    EXPECT_EQ(view.log[1], skipped == 0
                               ? "message|64|信息：|删除成功！"
                               : "message|64|信息：|已删除" + std::to_string(report.deleted) +
                                     "个重复文件，" + std::to_string(skipped) +
                                     "个未删除（文件已变化、已不存在或无法删除）。");
    EXPECT_EQ(report.failed, skipped);
    std::vector<std::string> present;
    for (const char* name : {"g1", "g2", "g3"}) {
      if (Exists(dir / name)) present.push_back(name);
    }
    EXPECT_EQ(present, c.survivors);
    EXPECT_TRUE(Exists(dir / "h1"));
    EXPECT_FALSE(Exists(dir / "h2"));
    EXPECT_TRUE(Exists(dir / "single"));
  }
}

// The same file listed as the kept one of a group and as a duplicate of another is never
// deleted: each deletion must leave a copy that stays.
TEST(DeleteDuplicateFiles, AKeptFileIsNeverDeletedElsewhere) {
  TempDir dir;
  for (const char* name : {"x", "y"})
    WriteFile(dir / name, "same");
  ResultList list;
  AddRow(list, dir / "x", "重复文件第1组");
  AddRow(list, dir / "y", "重复文件第1组");
  AddRow(list, dir / "y", "重复文件第2组");
  AddRow(list, dir / "x", "重复文件第2组");
  RecordingView view;
  DeleteReport report = DeleteDuplicateFiles(list, view);
  EXPECT_EQ(report.deleted, 0);
  EXPECT_TRUE(Exists(dir / "x"));
  EXPECT_TRUE(Exists(dir / "y"));
}

TEST(DeleteDuplicateFiles, NoGroupsAsksAboutNothing) {
  TempDir dir;
  WriteFile(dir / "a", "a");
  ResultList list;
  AddRow(list, dir / "a", "加入识别");
  RecordingView view;
  DeleteDuplicateFiles(list, view);
  EXPECT_EQ(view.Messages(),
            (std::vector<std::string>{
                "您确认要删除0个重复的文件吗？删除后您可以重新查找确认已删除。", "删除成功！"}));
  EXPECT_TRUE(Exists(dir / "a"));
}

TEST(DeleteCurrentFile, AsksByNameDeletesByPath) {
  TempDir dir;
  WriteFile(dir / "a.txt", "a");
  WriteFile(dir / "b.txt", "b");
  ResultList list;
  AddRow(list, dir / "a.txt");
  AddRow(list, dir / "b.txt");
  RecordingView nothing;
  DeleteCurrentFile(list, nothing);
  EXPECT_EQ(nothing.log,
            std::vector<std::string>{"message|64|信息：|选中项内容为空，无法执行删除命令！"});

  list.SetSelectedRow(1);
  RecordingView view;
  DeleteReport report = DeleteCurrentFile(list, view);
  EXPECT_EQ(view.log, std::vector<std::string>{"message|49|信息：|确定要删除文件：  b.txt"});
  EXPECT_EQ(report.deleted, 1);
  EXPECT_FALSE(Exists(dir / "b.txt"));
  EXPECT_TRUE(Exists(dir / "a.txt"));

  RecordingView again;  // the file is gone now
  report = DeleteCurrentFile(list, again);
  EXPECT_EQ(again.Messages().back(), "删除失败：b.txt");
  EXPECT_EQ(report.failed, 1);

  list.SetSelectedRow(0);
  Replace(dir / "a.txt", "not the file that was found");
  RecordingView replaced;
  DeleteCurrentFile(list, replaced);
  EXPECT_EQ(replaced.Messages().back(), "删除失败：a.txt");
  EXPECT_EQ(ReadFile(dir / "a.txt"), "not the file that was found");
}

TEST(RowCommands, EmptySelectionMessages) {
  ResultList list;
  RowData data;
  data.cells[ColPath] = "/no/name";  // a row without a name counts as empty
  list.AppendRow(data);
  using Command = void (*)(const ResultList&, View&);
  const std::pair<Command, const char*> cases[] = {
      {&CopyCurrentRow, "选中项内容为空，无法执行复制本行命令！"},
      {&CopyCurrentName, "选中项内容为空，无法执行复制文件名命令！"},
      {&CopyCurrentPath, "选中项内容为空，无法执行复制路径命令！"},
      {&OpenCurrentFolder, "选中项内容为空，无法执行打开所在文件夹命令！"}};
  for (std::optional<int> selected : {std::optional<int>(), std::optional<int>(0)}) {
    list.SetSelectedRow(selected);
    for (const auto& [command, message] : cases) {
      RecordingView view;
      command(list, view);
      EXPECT_EQ(view.log, std::vector<std::string>{"message|64|信息：|" + std::string(message)});
    }
  }
}

TEST(RowCommands, ClipboardOpenAndReveal) {
  TempDir dir;
  WriteFile(dir / "a b.txt", "a");
  ResultList list;
  AddRow(list, dir / "x\xff.txt");
  AddRow(list, dir / "a b.txt");
  list.SetCellText(1, ColSize, "1 B");
  list.SetSelectedRow(1);
  RecordingView view;
  CopyCurrentRow(list, view);
  CopyCurrentName(list, view);
  CopyCurrentPath(list, view);
  OpenCurrentFile(list, view);
  OpenCurrentFolder(list, view);
  EXPECT_EQ(view.log,
            (std::vector<std::string>{"clipboard|2 a b.txt " + (dir / "a b.txt") + " 1 B  ",
                                      "clipboard|a b.txt", "clipboard|" + (dir / "a b.txt"),
                                      "open|" + (dir / "a b.txt"), "reveal|" + (dir / "a b.txt")}));

  list.SetSelectedRow(0);  // its file is not there, and its name is not UTF-8
  RecordingView gone;
  OpenCurrentFile(list, gone);
  CopyCurrentName(list, gone);
  EXPECT_EQ(gone.log,
            (std::vector<std::string>{"message|64|信息：|该文件已不存在，是否移动了该文件？",
                                      "clipboard|x\xEF\xBF\xBD.txt"}));

  list.SetSelectedRow(std::nullopt);
  RecordingView beside;
  OpenCurrentFile(list, beside);
  EXPECT_TRUE(beside.log.empty());
}

}  // namespace
}  // namespace quelvane
