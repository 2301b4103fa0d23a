#include "platform/ini_file.h"

#include "platform/text.h"

namespace quelvane {
namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  return TrimBlanks(a) == TrimBlanks(b);
}

}  // namespace

IniFile IniFile::Parse(std::string_view bytes) {
  IniFile ini;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  // Lines before the first header belong to no section.
  ini.m_sections.push_back({"", false, {}});
  while (!bytes.empty()) {
    size_t nl = bytes.find('\n');
    std::string_view line = bytes.substr(0, nl);
    bytes.remove_prefix(nl == std::string_view::npos ? bytes.size() : nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view trimmed = TrimBlanks(line);
    if (!trimmed.empty() && trimmed.front() == '[') {
      size_t close = trimmed.rfind(']');
      std::string_view name = close == std::string_view::npos || close == 0
                                  ? trimmed.substr(1)
                                  : trimmed.substr(1, close - 1);
      ini.m_sections.push_back({std::string(name), true, {}});
      continue;
    }
    size_t eq = line.find('=');
    Line entry;
    if (eq == std::string_view::npos) {
      if (line.empty()) continue;
      entry.key = std::string(line);
    } else {
      entry.is_key = true;
      entry.key = std::string(line.substr(0, eq));
      entry.value = std::string(line.substr(eq + 1));
    }
    ini.m_sections.back().lines.push_back(std::move(entry));
  }
  return ini;
}

IniFile IniFile::FromEntries(const std::vector<IniEntry>& entries) {
  IniFile ini;
  for (const auto& e : entries)
    ini.Set(e.section, e.key, e.value);
  return ini;
}

std::string IniFile::Read(std::string_view section, std::string_view key) const {
  for (const auto& s : m_sections) {
    if (!s.has_header || !SameName(s.name, section)) continue;
    for (const auto& line : s.lines) {
      if (line.is_key && SameName(line.key, key)) {
        return line.value.substr(0, Utf8CutLength(line.value, kIniValueLimit));
      }
    }
    break;  // only the first section of that name counts
  }
  return {};
}

void IniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
  Section* target = nullptr;
  for (auto& s : m_sections) {
    if (!s.has_header || !SameName(s.name, section)) continue;
    for (auto& line : s.lines) {
      if (line.is_key && SameName(line.key, key)) {
        line.value = value;
        return;
      }
    }
    target = &s;
    break;
  }
  if (!target) {
    m_sections.push_back({section, true, {}});
    target = &m_sections.back();
  }
  target->lines.push_back({true, key, value});
}

std::string IniFile::Serialize() const {
  std::string out;
  for (const auto& s : m_sections) {
    if (s.has_header) out += "[" + s.name + "]\r\n";
    for (const auto& line : s.lines) {
      out += line.is_key ? line.key + "=" + line.value : line.key;
      out += "\r\n";
    }
  }
  return out;
}

}  // namespace quelvane
