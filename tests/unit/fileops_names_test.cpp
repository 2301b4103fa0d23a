#include <gtest/gtest.h>

#include <string>

#include "fileops/clash_names.h"
#include "fileops/delete_commands.h"
#include "fileops/row_commands.h"
#include "results/result_list.h"

namespace quelvane {
namespace {

struct NameCase {
  std::string name;
  std::string stem;
  std::string extension;
  std::string clash;   // ClashTargetName in "/out"
  std::string second;  // the clash name numbered 2
};

TEST(ClashNames, StemExtensionAndClashNames) {
  const std::string s(ClashSuffix);
  const NameCase cases[] = {
      {"report.doc", "report", ".doc", "/out/report" + s + ".doc", "/out/report" + s + "(2).doc"},
      {"archive.tar.gz", "archive.tar", ".gz", "/out/archive.tar" + s + ".gz",
       "/out/archive.tar" + s + "(2).gz"},
      {"README", "README", "", "/out/README" + s, "/out/README" + s + "(2)"},
      {"notes.", "notes", ".", "/out/notes" + s + ".", "/out/notes" + s + "(2)."},
      {".bashrc", "", ".bashrc", "/out/" + s + ".bashrc", "/out/" + s + "(2).bashrc"},
      {"照片.JPG", "照片", ".JPG", "/out/照片" + s + ".JPG", "/out/照片" + s + "(2).JPG"},
      {"caf\xe9.txt", "caf\xe9", ".txt", "/out/caf\xe9" + s + ".txt",
       "/out/caf\xe9" + s + "(2).txt"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(StemOf(c.name), c.stem);
    EXPECT_EQ(DotExtensionOf(c.name), c.extension);
    EXPECT_EQ(ClashTargetName("/out", c.name), c.clash);
    EXPECT_EQ(NumberedClashName("/out", c.name, 1), c.clash);
    EXPECT_EQ(NumberedClashName("/out", c.name, 2), c.second);
  }
  EXPECT_EQ(ClashSuffix, "（有重名的——Quelvane）");
  EXPECT_EQ(NumberedClashName("/out", "a.txt", 13), "/out/a" + s + "(13).txt");
}

TEST(ClashNames, LastComponentOnly) {
  EXPECT_EQ(StemOf("/data/v1.2/readme"), "readme");
  EXPECT_EQ(DotExtensionOf("/data/v1.2/readme"), "");
  EXPECT_EQ(StemOf("/data/dir/"), "");
  EXPECT_EQ(DotExtensionOf("/data/x.y/a.b"), ".b");
}

TEST(ClashNames, JoinWithOneSlash) {
  EXPECT_EQ(JoinPath("/out", "a.txt"), "/out/a.txt");
  EXPECT_EQ(JoinPath("/out/", "a.txt"), "/out/a.txt");
  EXPECT_EQ(JoinPath("/", "a.txt"), "/a.txt");
  EXPECT_EQ(ClashTargetName("/out/", "a.txt"), "/out/a" + std::string(ClashSuffix) + ".txt");
}

TEST(ClashNames, PlainFileNames) {
  for (const char* good : {"a.txt", "README", ".hidden", "..."})
    EXPECT_TRUE(IsPlainFileName(good));
  for (const std::string& bad :
       {std::string(), std::string("."), std::string(".."), std::string("../a.txt"),
        std::string("a/b"), std::string("a\0b", 3)}) {
    EXPECT_FALSE(IsPlainFileName(bad)) << bad;
  }
}

TEST(GroupLabels, OnlyNumberedGroupsCount) {
  for (const char* label : {"重复文件第1组", "重复文件第12组"})
    EXPECT_TRUE(IsGroupLabel(label));
  for (const char* other :
       {"无", "加入识别", "", "重复文件第组", "重复文件第1a组", "重复文件第1"}) {
    EXPECT_FALSE(IsGroupLabel(other)) << other;
  }
}

int AddRow(ResultList& list, const std::string& path, const std::string& state, uint64_t inode) {
  RowData data;
  data.cells[ColName] = path.substr(path.rfind('/') + 1);
  data.cells[ColPath] = path;
  data.cells[ColDupState] = state;
  data.facts = {10, 1, inode};
  return list.AppendRow(data);
}

TEST(DeletePlans, TopmostRowOfEachGroupIsKept) {
  ResultList list;
  AddRow(list, "/d/a1", "重复文件第1组", 1);
  AddRow(list, "/d/a2", "重复文件第1组", 2);
  AddRow(list, "/d/x", "无", 3);  // passed over; the group goes on below it
  AddRow(list, "/d/a3", "重复文件第1组", 4);
  AddRow(list, "/d/b1", "重复文件第2组", 5);
  AddRow(list, "/d/b2", "重复文件第2组", 6);
  AddRow(list, "/d/c", "加入识别", 7);
  std::vector<DeleteStep> plan = PlanDeleteDuplicates(list);
  ASSERT_EQ(plan.size(), 3u);
  EXPECT_EQ(plan[0].path, "/d/a2");
  EXPECT_EQ(plan[0].kept, "/d/a1");
  EXPECT_EQ(plan[0].kept_identity.inode, 1u);
  EXPECT_EQ(plan[1].path, "/d/a3");
  EXPECT_EQ(plan[1].kept, "/d/a1");
  EXPECT_EQ(plan[2].path, "/d/b2");
  EXPECT_EQ(plan[2].kept, "/d/b1");
  EXPECT_EQ(plan[2].identity.inode, 6u);
  EXPECT_EQ(plan[2].bytes, 10u);
}

TEST(DeletePlans, CheckedRowsInOrder) {
  ResultList list;
  for (int i = 0; i < 3; ++i)
    list.SetRowChecked(AddRow(list, "/d/f" + std::to_string(i), "无", i + 1), i != 1);
  std::vector<DeleteStep> plan = PlanDeleteChecked(list);
  ASSERT_EQ(plan.size(), 2u);
  EXPECT_EQ(plan[0].path, "/d/f0");
  EXPECT_EQ(plan[1].path, "/d/f2");
  EXPECT_TRUE(plan[1].kept.empty());
}

TEST(RowCommands, RowTextIsSixCellsJoinedByOneBlank) {
  ResultList list;
  RowData data;
  data.cells = {"",
                "3",
                "a.txt",
                "/my files/a.txt",
                "12.5 KB",
                "2019-09-01 10:00:00",
                "2019-09-02 11:30:00",
                "重复文件第1组",
                "0123456789abcdef0123456789abcdef"};
  int row = list.AppendRow(data);
  EXPECT_EQ(RowClipboardText(list, row),
            "3 a.txt /my files/a.txt 12.5 KB 2019-09-01 10:00:00 2019-09-02 11:30:00");
}

TEST(RowCommands, CurrentRowIsTheSelectedOne) {
  ResultList list;
  EXPECT_FALSE(CurrentRow(list));
  for (int i = 0; i < 4; ++i)
    AddRow(list, "/d/f" + std::to_string(i), "无", i + 1);
  EXPECT_FALSE(CurrentRow(list));
  list.SetSelectedRow(2);
  EXPECT_EQ(CurrentRow(list), 2);
}

}  // namespace
}  // namespace quelvane
