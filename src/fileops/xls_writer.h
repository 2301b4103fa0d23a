#pragma once
// An Excel 97-2003 workbook (BIFF8 records in a compound file) of text cells, in the layout
// described in fileops/workbook.h. All texts go through the shared string table as UTF-16
// (or its 8-bit form when every unit is below 0x100); every written cell uses a cell XF with
// the built-in number format 49 ("@").

#include <cstddef>
#include <stop_token>

#include "fileops/cfb_writer.h"
#include "fileops/workbook.h"

namespace quelvane {

// Writes the whole file to out. Returns 0 or an errno value (ECANCELED after a stop request,
// EFBIG when the workbook stream would exceed what the format can address).
int WriteXlsWorkbook(const ByteSink& out, const WorkbookSnapshot& snapshot, std::stop_token stop,
                     size_t sheet_rows = kXlsSheetRows);

}  // namespace quelvane
