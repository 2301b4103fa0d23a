#include "fileops/workbook.h"

#include <cerrno>

#include "fileops/xls_writer.h"
#include "fileops/xlsx_writer.h"
#include "platform/atomic_file.h"
#include "platform/text.h"

namespace quelvane {
namespace {

// Decodes one code point of valid UTF-8 at text[pos] and advances pos.
uint32_t NextCodePoint(std::string_view text, size_t& pos) {
  auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(text[i])); };
  uint32_t lead = byte(pos);
  if (lead < 0x80) {
    pos += 1;
    return lead;
  }
  if (lead < 0xE0) {
    uint32_t cp = ((lead & 0x1F) << 6) | (byte(pos + 1) & 0x3F);
    pos += 2;
    return cp;
  }
  if (lead < 0xF0) {
    uint32_t cp = ((lead & 0x0F) << 12) | ((byte(pos + 1) & 0x3F) << 6) | (byte(pos + 2) & 0x3F);
    pos += 3;
    return cp;
  }
  uint32_t cp = ((lead & 0x07) << 18) | ((byte(pos + 1) & 0x3F) << 12) |
                ((byte(pos + 2) & 0x3F) << 6) | (byte(pos + 3) & 0x3F);
  pos += 4;
  return cp;
}

// The byte length of the longest prefix of valid UTF-8 text that fits in max_units UTF-16 units.
size_t PrefixWithinUnits(std::string_view text, size_t max_units) {
  size_t units = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t before = pos;
    units += NextCodePoint(text, pos) >= 0x10000 ? 2 : 1;
    if (units > max_units) return before;
  }
  return pos;
}

// The package as libxlsxwriter left it in the temporary file, checked before it may replace
// anything.
int VerifyWritten(const AtomicFile& file, size_t sheets) {
  int64_t size = file.Size();
  if (size < 0) return errno;
  ReadAtFn read_at = [&file](uint64_t offset, void* data, size_t length) {
    return file.ReadAt(offset, data, length);
  };
  return VerifyXlsxPackage(read_at, static_cast<uint64_t>(size), sheets);
}

}  // namespace

WorkbookFormat FormatOfName(std::string_view path) {
  if (EndsWithIgnoreAsciiCase(path, ".xls")) return WorkbookFormat::Xls;
  if (EndsWithIgnoreAsciiCase(path, ".xlsx")) return WorkbookFormat::Xlsx;
  return WorkbookFormat::None;
}

bool IsWorkbookName(std::string_view path) {
  return FormatOfName(path) != WorkbookFormat::None;
}

size_t SheetCountFor(size_t list_rows, size_t sheet_rows) {
  size_t per_sheet = sheet_rows > 1 ? sheet_rows - 1 : 1;
  return list_rows == 0 ? 1 : (list_rows + per_sheet - 1) / per_sheet;
}

std::string SheetName(size_t index) {
  return "Sheet" + std::to_string(index + 1);
}

std::string_view CellTextOf(std::string_view text, std::string& scratch) {
  std::string_view valid = text;
  if (!IsValidUtf8(text)) {
    scratch = ToValidUtf8(text);
    valid = scratch;
  }
  // A UTF-8 text never has more UTF-16 units than bytes, so short texts need no count.
  if (valid.size() <= kMaxCellUnits) return valid;
  size_t keep = PrefixWithinUnits(valid, kMaxCellUnits);
  if (keep == valid.size()) return valid;
  if (valid.data() != scratch.data())
    scratch.assign(valid.substr(0, keep));
  else
    scratch.resize(keep);
  return scratch;
}

void AppendUtf16(std::string_view utf8, std::u16string& out) {
  size_t pos = 0;
  while (pos < utf8.size()) {
    uint32_t cp = NextCodePoint(utf8, pos);
    if (cp < 0x10000) {
      out.push_back(static_cast<char16_t>(cp));
    } else {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
  }
}

WriteResult WriteListToWorkbook(const std::string& path, const WorkbookSnapshot& snapshot,
                                std::stop_token stop, size_t sheet_rows) {
  WorkbookFormat format = FormatOfName(path);
  if (format == WorkbookFormat::None) return {false, EINVAL};
  AtomicFile file;
  int err = file.Open(path);
  if (err == 0) {
    if (format == WorkbookFormat::Xls) {
      ByteSink sink = [&file](const uint8_t* data, size_t size) { return file.Write(data, size); };
      err = WriteXlsWorkbook(sink, snapshot, stop, sheet_rows ? sheet_rows : kXlsSheetRows);
    } else {
      size_t rows = sheet_rows ? sheet_rows : kXlsxSheetRows;
      err = WriteXlsxWorkbook(file.TempPath(), snapshot, stop, rows);
      if (err == 0) err = VerifyWritten(file, SheetCountFor(snapshot.rows.size(), rows));
    }
  }
  if (err == 0) {
    err = file.Commit();
  } else {
    file.Abandon();
  }
  return {err == 0, err};
}

std::string ExportFailureMessage(int error) {
  return "导出失败：" + CErrorText(error);
}

}  // namespace quelvane
