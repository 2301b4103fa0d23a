#include "search/settings_file.h"

#include "platform/file_replace.h"

namespace quelvane {
namespace {

const std::string kSearchDirSection = "载入目录";
const std::string kTargetDirSection = "保存目录";

}  // namespace

std::string SettingsFilePath() {
  std::string dir = CurrentDirectory();
  // Without a current directory, the name alone still means "here".
  if (dir.empty()) return "dataconfig.ini";
  if (dir.back() != '/') dir += '/';
  return dir + "dataconfig.ini";
}

IniFile LoadSettingsIni() {
  std::string bytes;
  if (!ReadWholeFile(SettingsFilePath(), bytes)) return IniFile();
  return IniFile::Parse(bytes);
}

std::string ReadSetting(const std::string& section, const std::string& key) {
  return LoadSettingsIni().Read(section, key);
}

void WriteSetting(const std::string& section, const std::string& key, const std::string& value) {
  IniFile ini = LoadSettingsIni();
  ini.Set(section, key, value);
  ReplaceFileContents(SettingsFilePath(), ini.Serialize());
}

void RewriteSettings(const std::vector<IniEntry>& entries) {
  ReplaceFileContents(SettingsFilePath(), IniFile::FromEntries(entries).Serialize());
}

Directories LoadDirectories() {
  IniFile ini = LoadSettingsIni();
  Directories dirs;
  dirs.target = ini.Read(kTargetDirSection, kTargetDirSection);
  dirs.search = ini.Read(kSearchDirSection, kSearchDirSection);
  return dirs;
}

void SaveDirectoriesAtExit(const Directories& dirs) {
  RewriteSettings({{kSearchDirSection, kSearchDirSection, dirs.search},
                   {kTargetDirSection, kTargetDirSection, dirs.target}});
}

}  // namespace quelvane
