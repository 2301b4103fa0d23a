#pragma once
// Copy and move of the ticked rows' files into the target directory. Nothing already in the
// target is ever replaced: a taken name sends the file to the clash name, then to numbered
// clash names. The rows themselves are left as they are.

#include <optional>
#include <string>
#include <vector>

#include "platform/fs_ops.h"
#include "results/result_list.h"
#include "view/view.h"

namespace quelvane {

// Turns the status bar into a progress display: pane 0 holds the label, pane 1 lies under the
// progress bar, which starts at 0.
void StatusProgress(View& view, const std::string& label, int width);

struct TransferReport {
  bool ran = false;  // false when the target was empty or not a directory
  int checked = 0;   // ticked rows, each counted whether or not its file went
  int clashes = 0;   // rows whose own name was taken in the target
  int done = 0;
  int failed = 0;
  std::vector<PathError> failures;  // source paths, in row order
};

// The button commands. The target is read once from the target edit box.
TransferReport CopyToTarget(const ResultList& list, View& view);
TransferReport MoveToTarget(const ResultList& list, View& view);

// The message for a target the commands cannot use: empty, or not an existing directory.
std::optional<std::string> TargetProblem(const std::string& target);

enum class TransferKind { Copy, Move };

struct TransferStep {
  std::string source;
  std::string destination;  // empty when the row would fail
  bool clash = false;
  int error = 0;  // why the row would fail (ENOENT, kErrNotRegular, EINVAL for a bad name)
};

// What CopyToTarget or MoveToTarget would do with the ticked rows now, given what the target
// holds; touches nothing. Two rows of one name get the names the real run would give them.
std::vector<TransferStep> PlanTransfer(const ResultList& list, const std::string& target,
                                       TransferKind kind);

}  // namespace quelvane
