#pragma once
// Reads an exported workbook back with tests/export_read.py (xlrd for .xls, openpyxl for
// .xlsx, both run by Debian's /usr/bin/python3) and compares every cell with the list.
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../support/run_process.h"
#include "fileops/workbook.h"

namespace quelvane::testing {

// A fresh mkdtemp folder, removed with everything in it at the end.
class ExportTempDir {
 public:
  ExportTempDir() {
    char tmpl[] = "/tmp/quelvane-export-XXXXXX";
    m_path = mkdtemp(tmpl);
  }
  ~ExportTempDir() { std::filesystem::remove_all(m_path); }
  const std::string& path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }
  // Names in the folder, the temporary files of a failed export included.
  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(m_path))
      out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::string m_path;
};

inline void PutU32(std::ofstream& out, uint32_t v) {
  char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
  out.write(b, 4);
}

struct ReadBackResult {
  bool ok = false;
  std::string report;  // "OK fat=... sheets=..." or the mismatches
};

// sheet_rows = 0: the format's own sheet size.
inline ReadBackResult ReadBack(const std::string& workbook, const WorkbookSnapshot& list,
                               size_t sheet_rows = 0) {
  std::string expected = workbook + ".expected";
  {
    std::ofstream out(expected, std::ios::binary);
    out.write("QXP1", 4);
    PutU32(out, static_cast<uint32_t>(list.rows.size()));
    for (const auto& row : list.rows) {
      for (const auto& cell : row) {
        PutU32(out, static_cast<uint32_t>(cell.size()));
        out.write(cell.data(), static_cast<std::streamsize>(cell.size()));
      }
    }
  }
  std::vector<std::string> args = {std::string(QUELVANE_SOURCE_DIR) + "/tests/export_read.py",
                                   workbook, expected};
  if (sheet_rows) args.push_back(std::to_string(sheet_rows));
  ProcessResult run = RunProcess("/usr/bin/python3", args);
  std::filesystem::remove(expected);
  return {run.status == 0, run.out + run.err};
}

inline std::string FileBytes(const std::string& path) {
  return ReadFile(path);
}

}  // namespace quelvane::testing
