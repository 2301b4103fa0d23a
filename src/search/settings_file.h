#pragma once

#include <string>
#include <vector>

#include "platform/ini_file.h"

namespace quelvane {

// dataconfig.ini in the current directory at the moment of each use.
std::string SettingsFilePath();

// The whole file as it is now; empty when it cannot be read.
IniFile LoadSettingsIni();

// One entry; empty when the file, section or key is missing.
std::string ReadSetting(const std::string& section, const std::string& key);
// Sets one entry, keeping the others; the file is rewritten in one step. Failures are ignored.
void WriteSetting(const std::string& section, const std::string& key, const std::string& value);
// Replaces the whole file with exactly these entries, in order, in one step. Failures are
// ignored: the old file then stays as it was.
void RewriteSettings(const std::vector<IniEntry>& entries);

// The two working directories kept between runs.
struct Directories {
  std::string search;  // "载入目录"
  std::string target;  // "保存目录"
};
Directories LoadDirectories();
// At exit the file holds exactly the two directory sections, search first.
void SaveDirectoriesAtExit(const Directories& dirs);

}  // namespace quelvane
