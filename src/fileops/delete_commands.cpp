#include "fileops/delete_commands.h"

#include <set>
#include <utility>

#include "fileops/row_commands.h"
#include "platform/text.h"

namespace quelvane {

namespace {

const std::string kGroupLabelHead = "重复文件第";
const std::string kGroupLabelTail = "组";

FileIdentity IdentityOfRow(const ResultList& list, int row) {
  FileFacts facts = list.FactsAt(row);
  return {facts.device, facts.inode};
}

void Count(DeleteReport& report, const std::string& path, FsResult result) {
  if (result.ok()) {
    ++report.deleted;
  } else {
    ++report.failed;
    report.failures.push_back({path, result.error});
  }
}

// Deletes one listed duplicate only after checking it against the file its group keeps: both
// are still the files the rows were found as, they are two files, and they hold the same bytes.
// A digest match alone is not enough, as digests can be made to collide.
FsResult DeleteCheckedDuplicate(const DeleteStep& step) {
  if (CompareFilesVerified(step.kept, step.kept_identity, step.path, step.identity) !=
      Comparison::Equal) {
    return {kErrNotExpected};
  }
  return DeleteFileVerified(step.path, step.identity, step.bytes);
}

}  // namespace

bool IsGroupLabel(std::string_view text) {
  if (text.size() <= kGroupLabelHead.size() + kGroupLabelTail.size()) return false;
  if (text.substr(0, kGroupLabelHead.size()) != kGroupLabelHead) return false;
  if (text.substr(text.size() - kGroupLabelTail.size()) != kGroupLabelTail) return false;
  std::string_view digits = text.substr(
      kGroupLabelHead.size(), text.size() - kGroupLabelHead.size() - kGroupLabelTail.size());
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::vector<DeleteStep> PlanDeleteChecked(const ResultList& list) {
  std::vector<DeleteStep> steps;
  for (int row = 0; row < list.RowCount(); ++row) {
    if (list.IsRowChecked(row)) {
      steps.push_back(
          {list.CellText(row, ColPath), IdentityOfRow(list, row), list.FactsAt(row).bytes, {}, {}});
    }
  }
  return steps;
}

std::vector<DeleteStep> PlanDeleteDuplicates(const ResultList& list) {
  std::vector<DeleteStep> steps;
  std::string label;  // the group being walked; rows without a label leave it as it is
  int kept_row = -1;
  for (int row = 0; row < list.RowCount(); ++row) {
    std::string_view state = list.CellView(row, ColDupState);
    if (!IsGroupLabel(state)) continue;
    if (kept_row >= 0 && state == label) {
      steps.push_back({list.CellText(row, ColPath), IdentityOfRow(list, row),
                       list.FactsAt(row).bytes, list.CellText(kept_row, ColPath),
                       IdentityOfRow(list, kept_row)});
    } else {
      label = std::string(state);
      kept_row = row;
    }
  }
  return steps;
}

DeleteReport DeleteCheckedFiles(const ResultList& list, View& view) {
  DeleteReport report;
  view.RemoveAllPanes();
  std::vector<DeleteStep> steps = PlanDeleteChecked(list);
  report.listed = static_cast<int>(steps.size());
  if (view.ShowMessage(kMsgWarning,
                       "确定要删除列表框中选中的" + ToDecimal(report.listed) + "项文件？",
                       "删除文件") != Answer::Ok) {
    return report;
  }
  report.confirmed = true;
  for (const DeleteStep& step : steps) {
    Count(report, step.path, DeleteFileVerified(step.path, step.identity, step.bytes));
  }
  std::string text = "完成删除任务，共删除文件：" + ToDecimal(report.deleted) + "个。";
  if (report.failed > 0) text += "其中删除失败：" + ToDecimal(report.failed) + "个。";
  view.ShowMessage(kMsgInfo, text);
  return report;
}

DeleteReport DeleteDuplicateFiles(const ResultList& list, View& view) {
  DeleteReport report;
  std::vector<DeleteStep> steps = PlanDeleteDuplicates(list);
  report.listed = static_cast<int>(steps.size());
  if (view.ShowMessage(kMsgQuestion, "您确认要删除" + ToDecimal(report.listed) +
                                         "个重复的文件吗？删除后您可以重新查找确认已删除。") !=
      Answer::Ok) {
    return report;
  }
  report.confirmed = true;
  // A file kept for one group is never deleted as a member of another, so every deletion
  // leaves behind a copy that stays.
  std::set<std::pair<uint64_t, uint64_t>> kept;
  for (const DeleteStep& step : steps)
    kept.insert({step.kept_identity.device, step.kept_identity.inode});
  for (const DeleteStep& step : steps) {
    bool is_kept = kept.count({step.identity.device, step.identity.inode}) > 0;
    Count(report, step.path, is_kept ? FsResult{kErrNotExpected} : DeleteCheckedDuplicate(step));
  }
  view.ShowMessage(kMsgInfo, report.failed == 0
                                 ? std::string("删除成功！")
                                 : "已删除" + ToDecimal(report.deleted) + "个重复文件，" +
                                       ToDecimal(report.failed) +
                                       "个未删除（文件已变化、已不存在或无法删除）。");
  return report;
}

DeleteReport DeleteCurrentFile(const ResultList& list, View& view) {
  DeleteReport report;
  std::optional<int> row = CurrentRow(list);
  std::string name = row ? list.CellText(*row, ColName) : std::string();
  if (name.empty()) {
    view.ShowMessage(kMsgInfo, "选中项内容为空，无法执行删除命令！");
    return report;
  }
  const RowId id = list.IdAt(*row);
  if (view.ShowMessage(kMsgWarning, "确定要删除文件：  " + name) != Answer::Ok) return report;
  report.confirmed = true;
  report.listed = 1;
  // The row is looked up again by its identity: whatever happened to the list meanwhile, the
  // path deleted is the one of the row the user was asked about.
  std::optional<int> now = list.RowOf(id);
  std::string path = now ? list.CellText(*now, ColPath) : std::string();
  FsResult result =
      now ? DeleteFileVerified(path, IdentityOfRow(list, *now), list.FactsAt(*now).bytes)
          : FsResult{ENOENT};
  Count(report, path, result);
  if (!result.ok()) view.ShowMessage(kMsgInfo, "删除失败：" + name);
  return report;
}

}  // namespace quelvane
