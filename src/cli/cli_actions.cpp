#include "cli/cli_actions.h"

#include <cstring>
#include <iostream>

#include "cli/output.h"
#include "fileops/copy_move.h"
#include "fileops/delete_commands.h"

namespace quelvane {
namespace {

void PlanLine(std::initializer_list<std::string_view> fields) {
  std::string line;
  for (auto f : fields)
    line += (line.empty() ? "" : "\t") + TsvEscape(f);
  std::cerr << line << "\n";
}

int ReportFailures(const std::vector<PathError>& failures) {
  for (const auto& f : failures) {
    std::cerr << "quelvane-cli: " << TsvEscape(f.path) << ": " << std::strerror(f.error) << "\n";
  }
  return failures.empty() ? 0 : 1;
}

int DryRun(const CliOptions& o, const ResultList& list, CliView& view) {
  if (!o.copy_to.empty() || !o.move_to.empty()) {
    const bool copy = !o.copy_to.empty();
    const std::string& target = copy ? o.copy_to : o.move_to;
    if (auto problem = TargetProblem(target)) {
      view.ShowMessage(kMsgInfo, *problem, kDefaultCaption);
      return 1;
    }
    int failing = 0;
    for (const auto& step :
         PlanTransfer(list, target, copy ? TransferKind::Copy : TransferKind::Move)) {
      if (step.destination.empty()) {
        ++failing;
        continue;
      }
      PlanLine({copy ? "copy" : "move", step.source, step.destination});
    }
    return failing ? 1 : 0;
  }
  auto plan = o.delete_dupes ? PlanDeleteDuplicates(list) : PlanDeleteChecked(list);
  for (const auto& step : plan) {
    if (o.delete_dupes) {
      PlanLine({"delete", step.path, step.kept});
    } else {
      PlanLine({"delete", step.path});
    }
  }
  return 0;
}

}  // namespace

int RunFileAction(const CliOptions& o, const ResultList& list, CliView& view) {
  if (o.dry_run) return DryRun(o, list, view);
  if (!o.copy_to.empty() || !o.move_to.empty()) {
    const bool copy = !o.copy_to.empty();
    view.SetEditText(kTargetDirEdit, copy ? o.copy_to : o.move_to);
    TransferReport report = copy ? CopyToTarget(list, view) : MoveToTarget(list, view);
    int status = ReportFailures(report.failures);
    return !report.ran || report.failed > 0 ? 1 : status;
  }
  if (o.delete_checked || o.delete_dupes) {
    DeleteReport report =
        o.delete_dupes ? DeleteDuplicateFiles(list, view) : DeleteCheckedFiles(list, view);
    int status = ReportFailures(report.failures);
    return report.failed > 0 ? 1 : status;
  }
  return 0;
}

}  // namespace quelvane
