#pragma once

#include "cli/cli_options.h"
#include "cli/cli_view.h"
#include "results/result_list.h"

namespace quelvane {

// Runs the one file action the options name (or its dry run) on the rows of the find.
// Returns 0 when nothing failed, 1 when a file failed or was skipped.
int RunFileAction(const CliOptions& options, const ResultList& list, CliView& view);

}  // namespace quelvane
