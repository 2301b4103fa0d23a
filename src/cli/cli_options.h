#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "search/filter_settings.h"

namespace quelvane {

struct CliOptions {
  std::string dir;
  std::string ext;
  std::string preset;
  std::string skip_size;  // lt | eq | gt
  std::string size;
  std::string unit;
  std::string name_mode;  // include | skip
  std::string keywords;
  bool keywords_given = false;
  std::string format = "tsv";
  std::string output;
  bool quiet = false;
  bool dupes = false;
  int threads = 0;
  std::string copy_to;
  std::string move_to;
  bool delete_checked = false;
  bool delete_dupes = false;
  bool dry_run = false;
  bool yes = false;
  std::string export_path;
};

void DefineOptions(CLI::App& app, CliOptions& options);
// An empty text when the options make sense together, otherwise what is wrong (one line).
std::string CheckOptions(const CliOptions& options, bool stdin_is_terminal);
// The filter settings the settings window would hold for these options.
FilterSettings SettingsFromOptions(const CliOptions& options);

}  // namespace quelvane
