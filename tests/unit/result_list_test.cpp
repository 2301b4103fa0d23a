#include <gtest/gtest.h>

#include "results/result_list.h"

namespace quelvane {
namespace {

// A list whose column `column` holds the given texts, and whose ColName holds "r0", "r1", ...
ResultList ListWith(int column, const std::vector<std::string>& texts) {
  ResultList list;
  for (size_t i = 0; i < texts.size(); ++i) {
    RowData row;
    row.cells[ColName] = "r" + std::to_string(i);
    row.cells[column] = texts[i];
    list.AppendRow(row);
  }
  return list;
}

std::vector<std::string> Names(const ResultList& list) {
  std::vector<std::string> out;
  for (int r = 0; r < list.RowCount(); ++r)
    out.push_back(list.CellText(r, ColName));
  return out;
}

using V = std::vector<std::string>;

TEST(ResultList, CellsOutOfRangeReadEmptyAndIgnoreWrites) {
  ResultList list;
  int r = list.AppendRow();
  list.SetCellText(r, ColPath, "/a/b");
  list.SetCellText(r, ColCheck, "x");
  list.SetCellText(5, ColPath, "x");
  list.SetCellText(r, 9, "x");
  EXPECT_EQ(list.CellText(r, ColPath), "/a/b");
  EXPECT_EQ(list.CellText(r, ColCheck), "");
  EXPECT_EQ(list.CellText(-1, ColPath), "");
  EXPECT_EQ(list.CellText(r, 42), "");
  EXPECT_FALSE(list.IsRowChecked(7));
  list.SetCellText(r, ColSeq, "12345");
  list.SetCellText(r, ColSeq, "");
  EXPECT_EQ(list.CellText(r, ColPath), "/a/b");
  EXPECT_EQ(list.CellText(r, ColSeq), "");
}

TEST(ResultList, SortIsStableInBothDirections) {
  struct Case {
    int kind;
    V keys;
    bool ascending;
    V order;
  } cases[] = {
      {ByNumber, {"1", "2", "1"}, true, {"r0", "r2", "r1"}},
      {ByNumber, {"1", "2", "1"}, false, {"r1", "r0", "r2"}},
      {ByNumber, {"1", "3", "5", "3"}, true, {"r0", "r1", "r3", "r2"}},
      {ByText, {"a", "a", "a"}, true, {"r0", "r1", "r2"}},
      {ByText, {"a", "a", "a"}, false, {"r0", "r1", "r2"}},
      {ByNumber, {"１０", "9", "abc"}, true, {"r2", "r1", "r0"}},
      {7, {"b", "a"}, true, {"r1", "r0"}},  // unknown kinds sort as text
  };
  for (const auto& c : cases) {
    ResultList list = ListWith(ColDigest, c.keys);
    list.SortByColumn(ColDigest, c.kind, c.ascending);
    EXPECT_EQ(Names(list), c.order);
  }
}

TEST(ResultList, SizeColumnSortsByByteCount) {
  ResultList list;
  const std::pair<const char*, uint64_t> rows[] = {
      {"1.45 MB", 1520435}, {"512 B", 512}, {"1.45 KB", 1485}, {"1.45 KB", 1484}};
  for (const auto& [text, bytes] : rows) {
    RowData row;
    row.cells[ColSize] = text;
    row.cells[ColName] = std::to_string(bytes);
    row.facts.bytes = bytes;
    list.AppendRow(row);
  }
  list.SortByColumn(ColSize, ByNumber, true);
  EXPECT_EQ(Names(list), (V{"512", "1484", "1485", "1520435"}));
}

TEST(ResultList, TextOrderIsTheChineseCodePageOrder) {
  // Upper case before lower case, ASCII before Chinese, Chinese by pinyin (GBK order),
  // unconvertible (invalid UTF-8) texts last.
  ResultList list = ListWith(ColPath, {"\xFF"
                                       "bad",
                                       "不", "b", "啊", "B", "ab", "a"});
  list.SortByColumn(ColPath, ByText, true);
  V paths;
  for (int r = 0; r < list.RowCount(); ++r)
    paths.push_back(list.CellText(r, ColPath));
  EXPECT_EQ(paths, (V{"B", "a", "ab", "b", "啊", "不",
                      "\xFF"
                      "bad"}));
}

TEST(ResultList, DateSortPutsNonDatesFirst) {
  ResultList list = ListWith(ColModified, {"2019-09-27 08:05:03", "", "2019-09-27 08:05:02",
                                           "2001-01-01 00:00:00", "not a date"});
  list.SortByColumn(ColModified, ByDateTime, true);
  EXPECT_EQ(Names(list), (V{"r1", "r4", "r3", "r2", "r0"}));
}

TEST(ResultList, ChecksFactsAndIdentityMoveWithRowsColoursStay) {
  ResultList list = ListWith(ColDigest, {"c", "a", "b"});
  list.SetRowChecked(0, true);
  list.SetFacts(0, {10, 20, 30});
  RowId id = list.IdAt(0);
  list.SetSelectedRow(0);
  list.SetCellColour(0, ColName, kColourRed);
  list.SortByColumn(ColDigest, ByText, true);
  EXPECT_EQ(Names(list), (V{"r1", "r2", "r0"}));
  EXPECT_TRUE(list.IsRowChecked(2));
  EXPECT_FALSE(list.IsRowChecked(0));
  EXPECT_EQ(list.FactsAt(2).inode, 30u);
  EXPECT_EQ(list.RowOf(id), 2);
  EXPECT_EQ(list.SelectedRows(), std::vector<int>{2});
  EXPECT_EQ(list.ColourOf(0, ColName).text, kColourRed);
  EXPECT_EQ(list.ColourOf(2, ColName).text, kListTextColour);
}

TEST(ResultList, CellColourTableSemantics) {
  ResultList list = ListWith(ColDigest, {"a"});
  list.SetCellColour(0, 1, kColourRed);
  list.SetCellColour(0, 2, kColourRed);
  list.SetCellColour(0, 1, kListTextColour);  // back to the list's own colours: removed
  ASSERT_EQ(list.CellColourTable().size(), 1u);
  list.SetCellColour(0, 1, kColourRed);  // added again at the end
  ASSERT_EQ(list.CellColourTable().size(), 2u);
  EXPECT_EQ(list.CellColourTable()[1].column, 1);
  EXPECT_EQ(list.CellColourTable()[1].background, kListBackgroundColour);
  list.SetCellColour(0, 3, kListTextColour, kListBackgroundColour);  // plain: nothing added
  EXPECT_EQ(list.CellColourTable().size(), 2u);
  list.ClearCellColours();
  EXPECT_TRUE(list.CellColourTable().empty());
}

TEST(ResultList, HeaderClickTogglesAndPaintsDuplicates) {
  ResultList list = ListWith(ColDupState, {"无", "重复文件第1组", ""});
  list.HeaderClick(ColCheck, true);  // column 0: nothing at all
  EXPECT_FALSE(list.SortToggle());
  list.HeaderClick(ColName, true);
  EXPECT_TRUE(list.SortToggle());
  EXPECT_EQ(Names(list), (V{"r0", "r1", "r2"}));
  // Rows 1 and 2 are not "无" (an empty state counts too): columns 1..7 red.
  EXPECT_EQ(list.CellColourTable().size(), 14u);
  EXPECT_EQ(list.ColourOf(0, ColName).text, kListTextColour);
  EXPECT_EQ(list.ColourOf(1, ColDupState).text, kColourRed);
  EXPECT_EQ(list.ColourOf(1, ColDigest).text, kListTextColour);
  list.HeaderClick(ColName, false);  // the shared toggle: now descending, no paint
  EXPECT_EQ(Names(list), (V{"r2", "r1", "r0"}));
  EXPECT_TRUE(list.CellColourTable().empty());
}

TEST(ResultList, SelectAllAndEmptyList) {
  ResultList empty;
  empty.SetAllChecked(true);
  empty.SortByColumn(ColName, ByText, true);
  EXPECT_EQ(empty.RowCount(), 0);
  ResultList list = ListWith(ColName, {"x", "y"});
  list.SetAllChecked(true);
  EXPECT_TRUE(list.IsRowChecked(0) && list.IsRowChecked(1));
  list.SetAllChecked(false);
  EXPECT_FALSE(list.IsRowChecked(0) || list.IsRowChecked(1));
}

}  // namespace
}  // namespace quelvane
