#include "fileops/copy_move.h"

#include <set>
#include <utility>

#include "fileops/clash_names.h"
#include "platform/text.h"

namespace quelvane {

namespace {

// Numbered clash names stop here; a target holding that many clashes of one name gets a failure.
constexpr int kMaxClashNumber = 10000;

struct CommandTexts {
  TransferKind kind;
  const std::string& button;
  std::string running_caption;
  std::string idle_caption;
  std::string label;
  std::string final_pane;
};

const CommandTexts& TextsFor(TransferKind kind) {
  static const CommandTexts copy{TransferKind::Copy, kCopyButton,  "复制中……",
                                 "复制到目标文件夹", "开始复制：", "复制完成。"};
  static const CommandTexts move{TransferKind::Move, kMoveButton,  "移动中……",
                                 "剪切到目标文件夹", "开始剪切：", "剪切完成。"};
  return kind == TransferKind::Copy ? copy : move;
}

std::string SummaryText(TransferKind kind, const TransferReport& report) {
  std::string text = kind == TransferKind::Copy
                         ? "复制任务完成，共完成复制对象：" + ToDecimal(report.checked) +
                               "个。其中有重名的：" + ToDecimal(report.clashes) + "个。"
                         : "移动文件任务完成，共完成移动文件：" + ToDecimal(report.checked) +
                               "个。其中目标文件夹中有重名的：" + ToDecimal(report.clashes) +
                               "个。";
  if (report.failed > 0) text += "其中失败：" + ToDecimal(report.failed) + "个。";
  return text;
}

FsResult Transfer(TransferKind kind, const std::string& source, const std::string& destination) {
  return kind == TransferKind::Copy ? CopyFileNoReplace(source, destination)
                                    : MoveFileNoReplace(source, destination);
}

struct RowOutcome {
  bool clash = false;
  int error = 0;
};

// One file into the target: its own name when free, else the clash names in turn. A name taken
// between the test and the operation is met by EEXIST and simply passed over.
RowOutcome TransferRow(TransferKind kind, const std::string& source, const std::string& name,
                       const std::string& target) {
  if (!IsPlainFileName(name)) return {false, EINVAL};
  std::string plain = JoinPath(target, name);
  RowOutcome outcome;
  outcome.clash = PathExists(plain);
  if (!outcome.clash) {
    outcome.error = Transfer(kind, source, plain).error;
    if (outcome.error != EEXIST) return outcome;
    outcome.clash = true;
  }
  for (int number = 1; number <= kMaxClashNumber; ++number) {
    outcome.error = Transfer(kind, source, NumberedClashName(target, name, number)).error;
    if (outcome.error != EEXIST) return outcome;
  }
  return outcome;
}

void RestoreButton(View& view, const CommandTexts& texts) {
  view.SetButtonCaption(texts.button, texts.idle_caption);
  view.SetButtonEnabled(texts.button, true);
}

int CountChecked(const ResultList& list) {
  int count = 0;
  for (int row = 0; row < list.RowCount(); ++row)
    count += list.IsRowChecked(row) ? 1 : 0;
  return count;
}

TransferReport RunTransfer(const ResultList& list, View& view, const CommandTexts& texts) {
  TransferReport report;
  const std::string target = view.EditText(kTargetDirEdit);
  if (std::optional<std::string> problem = TargetProblem(target)) {
    view.ShowMessage(kMsgInfo, *problem);
    view.SetPaneText(0, texts.final_pane);
    return report;
  }
  report.ran = true;
  view.SetButtonCaption(texts.button, texts.running_caption);
  view.SetButtonEnabled(texts.button, false);
  StatusProgress(view, texts.label, 100);
  report.checked = CountChecked(list);
  view.SetProgressRange(0, report.checked);
  const int rows = list.RowCount();
  for (int row = 0; row < rows; ++row) {
    if (list.IsRowChecked(row)) {
      std::string source = list.CellText(row, ColPath);
      RowOutcome outcome = TransferRow(texts.kind, source, list.CellText(row, ColName), target);
      report.clashes += outcome.clash ? 1 : 0;
      if (outcome.error == 0) {
        ++report.done;
      } else {
        ++report.failed;
        report.failures.push_back({std::move(source), outcome.error});
      }
    }
    // The row's place in the list, ticked or not; past the maximum the bar just stays full.
    view.SetProgressPosition(row + 1);
  }
  // A copy gives its button back before the summary, a move only once the summary is closed.
  if (texts.kind == TransferKind::Copy) RestoreButton(view, texts);
  view.ShowMessage(kMsgInfo, SummaryText(texts.kind, report));
  if (texts.kind == TransferKind::Move) RestoreButton(view, texts);
  view.SetPaneText(0, texts.final_pane);
  return report;
}

// Why a row's file could not go at all, before any name is tried.
int SourceProblem(const std::string& source, const std::string& name) {
  if (!IsPlainFileName(name)) return EINVAL;
  std::optional<FileStatus> status = StatNoFollow(source);
  if (!status) return ENOENT;
  return status->regular ? 0 : kErrNotRegular;
}

}  // namespace

void StatusProgress(View& view, const std::string& label, int width) {
  view.ShowProgress(true);
  view.RemoveAllPanes();
  view.AddPane(label, width, PaneStyle::NoBorder);
  view.AddPane("", kPaneToEnd, PaneStyle::NoBorder);
  view.PlaceProgressOverPane(1);
  view.SetProgressPosition(0);
}

TransferReport CopyToTarget(const ResultList& list, View& view) {
  return RunTransfer(list, view, TextsFor(TransferKind::Copy));
}

TransferReport MoveToTarget(const ResultList& list, View& view) {
  return RunTransfer(list, view, TextsFor(TransferKind::Move));
}

std::optional<std::string> TargetProblem(const std::string& target) {
  if (target.empty()) return std::string("请设置目标目录！");
  if (!IsDirectory(target)) return std::string("目标目录不存在！");
  return std::nullopt;
}

std::vector<TransferStep> PlanTransfer(const ResultList& list, const std::string& target,
                                       TransferKind kind) {
  std::vector<TransferStep> steps;
  std::set<std::string> taken_by_plan;  // names earlier rows would fill
  std::set<std::string> freed_by_plan;  // sources earlier moves would empty
  auto taken = [&](const std::string& path) {
    return taken_by_plan.count(path) > 0 || (PathExists(path) && freed_by_plan.count(path) == 0);
  };
  for (int row = 0; row < list.RowCount(); ++row) {
    if (!list.IsRowChecked(row)) continue;
    TransferStep step;
    step.source = list.CellText(row, ColPath);
    std::string name = list.CellText(row, ColName);
    step.error = SourceProblem(step.source, name);
    if (step.error == EINVAL) {
      steps.push_back(std::move(step));
      continue;
    }
    std::string choice = JoinPath(target, name);
    step.clash = taken(choice);
    if (step.error != 0) {
      steps.push_back(std::move(step));
      continue;
    }
    for (int number = 1; taken(choice) && number <= kMaxClashNumber; ++number) {
      choice = NumberedClashName(target, name, number);
    }
    if (taken(choice)) {
      step.error = EEXIST;
    } else {
      step.destination = choice;
      taken_by_plan.insert(choice);
      freed_by_plan.erase(choice);
      if (kind == TransferKind::Move) freed_by_plan.insert(step.source);
    }
    steps.push_back(std::move(step));
  }
  return steps;
}

}  // namespace quelvane
