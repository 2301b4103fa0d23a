#pragma once
// Writing the result list into a spreadsheet workbook: .xls (our own BIFF8 writer) or .xlsx
// (libxlsxwriter), chosen by the name's ending.
//
// Layout of every sheet: A1 stays empty, B1..I1 hold the titles of list columns 1..8; list row
// i of the sheet's share goes to sheet row i + 2 with list column c in sheet column c (A..I).
// Every cell of A..I is written, each as a text cell with the number format "@"; an empty text
// is a blank cell that still carries "@". A list longer than a sheet continues on "Sheet2",
// "Sheet3", ..., each starting with the same title row.

#include <array>
#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "results/result_list.h"

namespace quelvane {

struct WorkbookSnapshot {
  std::vector<std::array<std::string, kColumnCount>> rows;
};

struct WriteResult {
  bool ok = false;
  int error = 0;  // errno of the failing step when !ok
};

enum class WorkbookFormat { None, Xls, Xlsx };

// ".xls" or ".xlsx" at the end of the name, ASCII case ignored.
WorkbookFormat FormatOfName(std::string_view path);
bool IsWorkbookName(std::string_view path);

// Rows a sheet holds, the title row included.
inline constexpr size_t kXlsSheetRows = 65536;
inline constexpr size_t kXlsxSheetRows = 1048576;
// The longest text a cell holds, in UTF-16 units.
inline constexpr size_t kMaxCellUnits = 32767;

// How many sheets a list needs: at least one, each holding sheet_rows - 1 list rows.
size_t SheetCountFor(size_t list_rows, size_t sheet_rows);
// "Sheet1", "Sheet2", ...
std::string SheetName(size_t index);

// The text a cell gets: invalid UTF-8 bytes become U+FFFD each, and a text longer than a cell
// holds is cut at a character boundary. Returns text itself when it needs no change, otherwise
// a view of scratch.
std::string_view CellTextOf(std::string_view text, std::string& scratch);

// Appends the UTF-16 units of valid UTF-8 text.
void AppendUtf16(std::string_view utf8, std::u16string& out);

// Writes the workbook to a temporary file beside path and renames it over path; on failure the
// temporary file is gone and an existing file at path is untouched. A stop request abandons the
// write with ECANCELED. sheet_rows = 0 uses the format's sheet size; tests pass a smaller one.
WriteResult WriteListToWorkbook(const std::string& path, const WorkbookSnapshot& snapshot,
                                std::stop_token stop = {}, size_t sheet_rows = 0);

// "导出失败：" and the C-locale text of the error.
std::string ExportFailureMessage(int error);

}  // namespace quelvane
