// quelvane-cli: the command-line face of the core. It fills the filter settings with the texts the
// settings window would store, runs the same find, and prints the list.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>

#include "cli/cli_options.h"
#include "cli/cli_run.h"

int main(int argc, char** argv) {
  quelvane::CliOptions options;
  CLI::App app{
      "Find files by type, size and name under a folder, find duplicates, and act on them.",
      "quelvane-cli"};
  quelvane::DefineOptions(app, options);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    std::cout << "quelvane-cli 1.0\n";
    return 0;
  } catch (const CLI::ParseError& e) {
    std::cerr << "quelvane-cli: " << e.what() << "\n";
    return 2;
  }
  std::string problem = quelvane::CheckOptions(options, isatty(STDIN_FILENO) != 0);
  if (!problem.empty()) {
    std::cerr << "quelvane-cli: " << problem << "\n";
    return 2;
  }
  return quelvane::RunCli(options);
}
