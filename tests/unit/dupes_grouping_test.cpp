#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dupes/duplicate_candidates.h"
#include "dupes/duplicate_grouper.h"
#include "platform/text.h"
#include "results/result_list.h"
#include "view/recording_view.h"

namespace quelvane {
namespace {

struct FakeFile {
  std::string name;
  uint64_t bytes = 0;
  uint64_t inode = 0;
};

// Rows as a find appends them: name, path, size text and the file's facts.
ResultList ListOf(const std::vector<FakeFile>& files) {
  ResultList list;
  for (const FakeFile& f : files) {
    RowData row;
    row.cells[ColSeq] = "x";
    row.cells[ColName] = f.name;
    row.cells[ColPath] = "/nowhere/" + f.name;
    row.cells[ColSize] = FormatSizeText(f.bytes);
    row.facts = FileFacts{f.bytes, 7, f.inode};
    list.AppendRow(row);
  }
  return list;
}

// "name=mark" for every row from the top.
std::vector<std::string> Marks(const ResultList& list) {
  std::vector<std::string> out;
  for (int r = 0; r < list.RowCount(); ++r) {
    out.push_back(list.CellText(r, ColName) + "=" + list.CellText(r, ColDupState));
  }
  return out;
}

using V = std::vector<std::string>;
const std::string C = kMarkCandidate;
const std::string N = kMarkNone;

struct CandidateCase {
  const char* what;
  std::vector<FakeFile> files;
  V marks;  // after the sort by byte count
  size_t candidates;
};

TEST(DupesCandidates, MarksRowsThatShareAByteCountWithAnotherFile) {
  const CandidateCase cases[] = {
      {"empty list", {}, {}, 0},
      {"one row gets none", {{"a", 10, 1}}, {"a=" + N}, 0},
      {"A A B", {{"a", 5, 1}, {"b", 5, 2}, {"c", 9, 3}}, {"a=" + C, "b=" + C, "c=" + N}, 2},
      {"A B B", {{"a", 5, 1}, {"b", 9, 2}, {"c", 9, 3}}, {"a=" + N, "b=" + C, "c=" + C}, 2},
      {"a run of three",
       {{"a", 5, 1}, {"b", 5, 2}, {"c", 5, 3}},
       {"a=" + C, "b=" + C, "c=" + C},
       3},
      // All three read "1.45 KB"; the middle one is larger and must not split the pair.
      {"1.45 KB three",
       {{"a", 1485, 1}, {"b", 1487, 2}, {"c", 1485, 3}},
       {"a=" + C, "c=" + C, "b=" + N},
       2},
      // 1.45 KB and 1.45 MB share the leading number but not the byte count.
      {"KB against MB", {{"a", 1520435, 1}, {"b", 1485, 2}}, {"b=" + N, "a=" + N}, 0},
      {"hard-link pair alone", {{"a", 5, 1}, {"b", 5, 1}}, {"a=" + N, "b=" + N}, 0},
      {"hard link beside a copy",
       {{"a", 5, 1}, {"b", 5, 1}, {"c", 5, 2}},
       {"a=" + C, "b=" + N, "c=" + C},
       2},
      {"unknown identities are not one file", {{"a", 5, 0}, {"b", 5, 0}}, {"a=" + C, "b=" + C}, 2},
      {"empty files", {{"a", 0, 1}, {"b", 0, 2}, {"c", 1, 3}}, {"a=" + C, "b=" + C, "c=" + N}, 2},
  };
  for (const CandidateCase& c : cases) {
    ResultList list = ListOf(c.files);
    const CandidateSet set = MarkDuplicateCandidates(list);
    EXPECT_EQ(Marks(list), c.marks) << c.what;
    ASSERT_EQ(set.files.size(), c.candidates) << c.what;
    // The snapshot names the candidate rows by identity, with their path and facts.
    for (const HashTarget& t : set.files) {
      auto row = list.RowOf(t.id);
      ASSERT_TRUE(row) << c.what;
      EXPECT_EQ(list.CellText(*row, ColDupState), C) << c.what;
      EXPECT_EQ(list.CellText(*row, ColPath), t.path) << c.what;
      EXPECT_EQ(list.FactsAt(*row).bytes, t.expected.bytes) << c.what;
    }
    uint32_t in_groups = 0;
    for (const SizeGroup& g : set.groups) {
      EXPECT_GE(g.count, 2u) << c.what;
      for (uint32_t i = g.first; i < g.first + g.count; ++i) {
        EXPECT_EQ(set.files[i].expected.bytes, set.files[g.first].expected.bytes) << c.what;
      }
      in_groups += g.count;
    }
    EXPECT_EQ(in_groups, c.candidates) << c.what;
  }
}

TEST(DupesCandidates, EmptiesADigestLeftFromAnEarlierPass) {
  ResultList list = ListOf({{"a", 5, 1}, {"b", 9, 2}});
  list.SetCellText(1, ColDigest, "0123456789abcdef0123456789abcdef");
  MarkDuplicateCandidates(list);
  EXPECT_EQ(list.CellText(0, ColDigest), "");
  EXPECT_EQ(list.CellText(1, ColDigest), "");
}

// Digest texts whose descending order is plain to see.
std::string D(char c) {
  return std::string(32, c);
}

struct GroupCase {
  const char* what;
  std::vector<std::string> digests;  // per row in list order; "" = no digest
  V marks;                           // after the grouping, from the top
  int groups;
};

TEST(DupesGrouper, LabelsRunsOfEqualDigestsFromTheTop) {
  const GroupCase cases[] = {
      {"x x y", {D('f'), D('f'), D('e')}, {"r0=重复文件第1组", "r1=重复文件第1组", "r2=无"}, 1},
      {"x y y", {D('f'), D('e'), D('e')}, {"r0=无", "r1=重复文件第1组", "r2=重复文件第1组"}, 1},
      {"x x y y",
       {D('f'), D('f'), D('e'), D('e')},
       {"r0=重复文件第1组", "r1=重复文件第1组", "r2=重复文件第2组", "r3=重复文件第2组"},
       2},
      {"x x x",
       {D('f'), D('f'), D('f')},
       {"r0=重复文件第1组", "r1=重复文件第1组", "r2=重复文件第1组"},
       1},
      {"x y z", {D('f'), D('e'), D('d')}, {"r0=无", "r1=无", "r2=无"}, 0},
      // The sort puts equal digests together and rows without one at the bottom, in list order.
      {"scattered",
       {"", D('a'), D('c'), "", D('a'), D('c'), D('b')},
       {"r2=重复文件第1组", "r5=重复文件第1组", "r6=无", "r1=重复文件第2组", "r4=重复文件第2组",
        "r0=无", "r3=无"},
       2},
  };
  for (const GroupCase& c : cases) {
    std::vector<FakeFile> files;
    for (size_t i = 0; i < c.digests.size(); ++i) {
      files.push_back({std::string("r") + std::to_string(i), 100, i + 1});
    }
    ResultList list = ListOf(files);
    std::vector<RowDigest> digests;
    std::vector<RowId> none;
    // Handed over in reverse: only the identity may decide where a digest goes.
    for (int r = list.RowCount() - 1; r >= 0; --r) {
      list.SetCellText(r, ColDupState, kMarkCandidate);
      const std::string& d = c.digests[static_cast<size_t>(r)];
      if (d.empty()) {
        none.push_back(list.IdAt(r));
      } else {
        digests.push_back({list.IdAt(r), d});
      }
    }
    const int groups = GroupDuplicates(list, digests, none);
    EXPECT_EQ(groups, c.groups) << c.what;
    EXPECT_EQ(Marks(list), c.marks) << c.what;
    EXPECT_FALSE(list.RedrawLocked()) << c.what;
    for (int r = 0; r < list.RowCount(); ++r) {
      const size_t from = std::stoul(list.CellText(r, ColName).substr(1));
      EXPECT_EQ(list.CellText(r, ColDigest), c.digests[from]) << c.what;
      EXPECT_EQ(list.CellText(r, ColSeq), std::to_string(r + 1)) << c.what;
      const bool grouped = list.CellText(r, ColDupState) != kMarkNone;
      for (int col = 0; col < kColumnCount; ++col) {
        const bool red = grouped && col >= ColSeq && col <= ColDupState;
        EXPECT_EQ(list.ColourOf(r, col).text, red ? kColourRed : kListTextColour)
            << c.what << " row " << r << " column " << col;
      }
    }
  }
}

TEST(DupesGrouper, FinishTextsAndTheFindButton) {
  ResultList list = ListOf({{"a", 5, 1}, {"b", 5, 2}, {"c", 6, 3}});
  RecordingView view;
  ShowGroupedFinish(list, view, 2, 1);
  EXPECT_EQ(view.progress_max, 5);
  EXPECT_EQ(view.progress_pos, 5);
  EXPECT_EQ(view.summary, "共找到3项文件。其中发现重复文件：1组。");
  EXPECT_EQ(view.Messages(), V{"查找完成，共找到3项文件。其中发现重复文件：1组。"});
  EXPECT_EQ(view.LinesStartingWith("message|"),
            V{"message|64|信息：|查找完成，共找到3项文件。其中发现重复文件：1组。"});
  EXPECT_EQ(view.LinesStartingWith("pane-text|"), V{"pane-text|0|任务完成！"});
  EXPECT_TRUE(view.enabled[kFindButton]);
  EXPECT_EQ(view.captions[kFindButton], "查找文件");

  RecordingView none;
  FinishWithoutCandidates(list, none);
  EXPECT_EQ(none.summary, "共找到3项文件。没有发现重复文件。");
  EXPECT_EQ(none.Messages(), V{"查找完成，共找到3项文件。没有发现重复文件。"});
  EXPECT_TRUE(none.enabled[kFindButton]);
  EXPECT_EQ(none.captions[kFindButton], "查找文件");
  EXPECT_EQ(list.CellText(2, ColSeq), "3");
}

}  // namespace
}  // namespace quelvane
