#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quelvane {

// Values longer than this are cut when read, on a character boundary.
inline constexpr size_t kIniValueLimit = 10239;

struct IniEntry {
  std::string section;
  std::string key;
  std::string value;
};

// An INI document in memory. Section and key names are kept byte for byte and compared with
// blanks at both ends ignored; values are kept exactly. Lines that are neither a section header
// nor a key line are kept as they are.
class IniFile {
 public:
  static IniFile Parse(std::string_view bytes);
  static IniFile FromEntries(const std::vector<IniEntry>& entries);

  // The value of the first matching key of the first matching section; empty when absent.
  std::string Read(std::string_view section, std::string_view key) const;
  // Replaces the first matching key's value, or adds the key to the first matching section, or
  // adds a new section at the end.
  void Set(const std::string& section, const std::string& key, const std::string& value);
  // The ordinary INI text: "[section]" lines, "key=value" lines, CRLF line ends.
  std::string Serialize() const;

 private:
  struct Line {
    bool is_key = false;
    std::string key;  // or the raw text of a line that is not a key line
    std::string value;
  };
  struct Section {
    std::string name;
    bool has_header = true;
    std::vector<Line> lines;
  };
  std::vector<Section> m_sections;
};

}  // namespace quelvane
