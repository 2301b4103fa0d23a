#include "dupes/duplicate_grouper.h"

#include <string_view>

#include "platform/text.h"

namespace quelvane {

namespace {

const std::string kFindCaption = "查找文件";
const std::string kDoneText = "任务完成！";

// Suspends redrawing for a bulk update, unless a caller already did.
class RedrawLock {
 public:
  explicit RedrawLock(ResultList& list) : m_list(list), m_took(!list.RedrawLocked()) {
    if (m_took) m_list.LockRedraw();
  }
  ~RedrawLock() {
    if (m_took) m_list.UnlockRedraw();
  }
  RedrawLock(const RedrawLock&) = delete;
  RedrawLock& operator=(const RedrawLock&) = delete;

 private:
  ResultList& m_list;
  bool m_took;
};

void WriteDigests(ResultList& list, const std::vector<RowDigest>& digests,
                  const std::vector<RowId>& no_digest) {
  for (const RowDigest& d : digests) {
    if (auto row = list.RowOf(d.id)) list.SetCellText(*row, ColDigest, d.digest);
  }
  for (RowId id : no_digest) {
    if (auto row = list.RowOf(id)) list.SetCellText(*row, ColDupState, kMarkNone);
  }
}

// Labels the block of rows with a digest at the top of the sorted list.
int LabelRuns(ResultList& list) {
  const int n = list.RowCount();
  int top = 0;
  while (top < n && !list.CellView(top, ColDigest).empty())
    ++top;
  int groups = 0;
  for (int first = 0; first < top;) {
    const std::string digest = list.CellText(first, ColDigest);
    int end = first + 1;
    while (end < top && list.CellView(end, ColDigest) == digest)
      ++end;
    if (end - first >= 2) {
      const std::string label = GroupLabel(++groups);
      for (int r = first; r < end; ++r) {
        list.SetCellText(r, ColDupState, label);
        list.PaintRowRed(r);
      }
    } else {
      list.SetCellText(first, ColDupState, kMarkNone);
    }
    first = end;
  }
  return groups;
}

void RestoreFindButton(View& view) {
  view.SetButtonEnabled(kFindButton, true);
  view.SetButtonCaption(kFindButton, kFindCaption);
}

}  // namespace

std::string GroupLabel(int number) {
  return "重复文件第" + ToDecimal(number) + "组";
}

std::string GroupedSummary(int rows, int groups) {
  return "共找到" + ToDecimal(rows) + "项文件。其中发现重复文件：" + ToDecimal(groups) + "组。";
}

std::string NoDuplicatesSummary(int rows) {
  return "共找到" + ToDecimal(rows) + "项文件。没有发现重复文件。";
}

void RenumberRows(ResultList& list) {
  for (int row = 0; row < list.RowCount(); ++row)
    list.SetCellText(row, ColSeq, ToDecimal(row + 1));
}

int GroupDuplicates(ResultList& list, const std::vector<RowDigest>& digests,
                    const std::vector<RowId>& no_digest) {
  RedrawLock lock(list);
  WriteDigests(list, digests, no_digest);
  list.SortByColumn(ColDigest, ByText, false);
  const int groups = LabelRuns(list);
  RenumberRows(list);
  return groups;
}

void ShowGroupedFinish(ResultList& list, View& view, int64_t candidates, int groups) {
  const int64_t maximum = candidates + 3;
  view.SetProgressRange(0, maximum);
  view.SetProgressPosition(maximum);
  view.SetPaneText(0, kDoneText);
  const std::string summary = GroupedSummary(list.RowCount(), groups);
  view.SetSummary(summary);
  view.ShowMessage(kMsgInfo, "查找完成，" + summary);
  RestoreFindButton(view);
}

void FinishWithoutCandidates(ResultList& list, View& view) {
  {
    RedrawLock lock(list);
    RenumberRows(list);
  }
  const std::string summary = NoDuplicatesSummary(list.RowCount());
  view.SetSummary(summary);
  view.ShowMessage(kMsgInfo, "查找完成，" + summary);
  RestoreFindButton(view);
}

}  // namespace quelvane
