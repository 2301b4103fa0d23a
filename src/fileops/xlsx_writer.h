#pragma once
// An Office Open XML workbook of text cells through libxlsxwriter in its constant-memory mode,
// in the layout described in fileops/workbook.h. Every written cell carries the built-in
// number format 49 ("@").

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

#include "fileops/workbook.h"

namespace quelvane {

// Writes the workbook to the file at path (created or truncated). Returns 0 or an errno value
// (ECANCELED after a stop request; the errno of the failing system call, or EIO when the
// library reports a failure without one).
int WriteXlsxWorkbook(const std::string& path, const WorkbookSnapshot& snapshot,
                      std::stop_token stop, size_t sheet_rows = kXlsxSheetRows);

// Reads bytes of a written file: up to size bytes at offset; the count, 0 at the end, or -1
// with errno set.
using ReadAtFn = std::function<int64_t(uint64_t offset, void* data, size_t size)>;

// Checks the package that WriteXlsxWorkbook wrote (file_size bytes, readable through read_at):
// the content types, the workbook and each of the sheets are present, every part inflates to
// its recorded size and checksum, and every XML part ends with the closing tag of its root
// element. libxlsxwriter does not notice failed writes to its own temporary files (a full
// /tmp), which would otherwise leave a truncated worksheet reported as success. Returns 0, the
// read's errno, or EIO for a damaged package.
int VerifyXlsxPackage(const ReadAtFn& read_at, uint64_t file_size, size_t sheets);

// A cell text as the file must hold it so that it reads back unchanged. A reader decodes every
// "_xHHHH_" into the character U+HHHH, so an underscore that begins such a pattern in the text
// is written as "_x005F_", and characters XML cannot carry (controls other than tab and line
// feed, the carriage return that XML would turn into a line feed, U+FFFE, U+FFFF) are written
// as "_xHHHH_". The result is cut so that it stays within kMaxCellUnits characters, never
// inside an escape. text must be valid UTF-8.
std::string EscapeXlsxText(std::string_view text);

}  // namespace quelvane
