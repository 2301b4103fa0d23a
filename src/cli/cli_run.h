#pragma once

#include "cli/cli_options.h"

namespace quelvane {

// Runs the find (and what the options add to it); returns the exit status.
int RunCli(const CliOptions& options);

}  // namespace quelvane
