#include "fileops/xlsx_writer.h"

#include <xlsxwriter.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <set>
#include <vector>

namespace quelvane {
namespace {

constexpr uint8_t kTextFormat = 49;  // built-in number format "@"

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "_x" and four hex digits at pos: a reader would take it for an escape. Escaping the
// underscore even when no closing "_" follows is harmless and covers the case where the next
// character is itself written as an escape, which begins with "_".
bool LooksLikeEscape(std::string_view text, size_t pos) {
  if (pos + 6 > text.size()) return false;
  if (text[pos + 1] != 'x' && text[pos + 1] != 'X') return false;
  return std::all_of(text.begin() + pos + 2, text.begin() + pos + 6, IsHexDigit);
}

size_t SequenceLength(unsigned char lead) {
  return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// "_xHHHH_": how the format writes the character U+HHHH.
void AppendEscape(std::string& out, unsigned code) {
  static const char kHex[] = "0123456789ABCDEF";
  out += "_x";
  for (int shift = 12; shift >= 0; shift -= 4)
    out += kHex[(code >> shift) & 15];
  out += '_';
}

// The character at text[i] that must be written as an escape, or -1 for one written as is.
int EscapedCode(std::string_view text, size_t i) {
  auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x20 && lead != '\t' && lead != '\n') return lead;
  if (lead == '_' && LooksLikeEscape(text, i)) return '_';
  // U+FFFE and U+FFFF are not XML characters.
  if (lead == 0xEF && text.substr(i, 2) == "\xEF\xBF" && i + 2 < text.size() &&
      static_cast<unsigned char>(text[i + 2]) >= 0xBE)
    return 0xFFFE + (static_cast<unsigned char>(text[i + 2]) - 0xBE);
  return -1;
}

// Writes the escaped form of text into out.
void EscapeInto(std::string_view text, std::string& out) {
  out.clear();
  size_t chars = 0;
  for (size_t i = 0; i < text.size();) {
    size_t len = SequenceLength(static_cast<unsigned char>(text[i]));
    int code = EscapedCode(text, i);
    size_t width = code < 0 ? 1 : 7;
    if (chars + width > kMaxCellUnits) break;
    if (code < 0) {
      out.append(text.substr(i, len));
    } else {
      AppendEscape(out, static_cast<unsigned>(code));
    }
    chars += width;
    i += len;
  }
}

int ErrorOf(lxw_error error, int saved_errno) {
  if (error == LXW_ERROR_MEMORY_MALLOC_FAILED) return ENOMEM;
  return saved_errno != 0 ? saved_errno : EIO;
}

class XlsxSheets {
 public:
  XlsxSheets(lxw_workbook* book, lxw_format* format) : m_book(book), m_format(format) {}

  // Adds the sheet with its title row.
  int Begin(size_t index) {
    m_sheet = workbook_add_worksheet(m_book, SheetName(index).c_str());
    if (m_sheet == nullptr) return ENOMEM;
    static const double kWidths[kColumnCount] = {3, 8, 30, 60, 12, 20, 20, 14, 34};
    for (lxw_col_t c = 0; c < kColumnCount; ++c)
      worksheet_set_column(m_sheet, c, c, kWidths[c], nullptr);
    for (int c = 1; c < kColumnCount; ++c)
      if (int err = Cell(0, c, ResultList::ColumnTitle(c))) return err;
    return 0;
  }

  int Cell(lxw_row_t row, int column, std::string_view text) {
    text = CellTextOf(text, m_scratch);
    errno = 0;
    lxw_error error;
    if (text.empty()) {
      error = worksheet_write_blank(m_sheet, row, static_cast<lxw_col_t>(column), m_format);
    } else {
      EscapeInto(text, m_escaped);
      error = worksheet_write_string(m_sheet, row, static_cast<lxw_col_t>(column),
                                     m_escaped.c_str(), m_format);
    }
    return error == LXW_NO_ERROR ? 0 : ErrorOf(error, errno);
  }

 private:
  lxw_workbook* m_book;
  lxw_format* m_format;
  lxw_worksheet* m_sheet = nullptr;
  std::string m_scratch;
  std::string m_escaped;
};

int WriteSheets(lxw_workbook* book, const WorkbookSnapshot& snapshot, std::stop_token stop,
                size_t sheet_rows) {
  lxw_format* format = workbook_add_format(book);
  if (format == nullptr) return ENOMEM;
  format_set_num_format_index(format, kTextFormat);
  XlsxSheets sheets(book, format);
  size_t per_sheet = sheet_rows - 1;
  size_t count = SheetCountFor(snapshot.rows.size(), sheet_rows);
  for (size_t s = 0; s < count; ++s) {
    if (int err = sheets.Begin(s)) return err;
    size_t first = s * per_sheet;
    size_t last = std::min(snapshot.rows.size(), first + per_sheet);
    for (size_t r = first; r < last; ++r) {
      if (r % 1024 == 0 && stop.stop_requested()) return ECANCELED;
      auto row = static_cast<lxw_row_t>(r - first + 1);
      for (int c = 0; c < kColumnCount; ++c)
        if (int err = sheets.Cell(row, c, snapshot.rows[r][c])) return err;
    }
  }
  return 0;
}

}  // namespace

std::string EscapeXlsxText(std::string_view text) {
  std::string out;
  EscapeInto(text, out);
  return out;
}

int WriteXlsxWorkbook(const std::string& path, const WorkbookSnapshot& snapshot,
                      std::stop_token stop, size_t sheet_rows) {
  sheet_rows = std::clamp<size_t>(sheet_rows, 2, kXlsxSheetRows);
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = nullptr;
  options.use_zip64 = LXW_FALSE;
  errno = 0;
  lxw_workbook* book = workbook_new_opt(path.c_str(), &options);
  if (book == nullptr) return errno != 0 ? errno : ENOMEM;
  if (int err = WriteSheets(book, snapshot, stop, sheet_rows)) {
    lxw_workbook_free(book);
    return err;
  }
  errno = 0;
  lxw_error error = workbook_close(book);  // writes the file and frees the workbook
  return error == LXW_NO_ERROR ? 0 : ErrorOf(error, errno);
}

}  // namespace quelvane

namespace quelvane {
namespace {

constexpr size_t kZipChunk = 1 << 16;

uint32_t Le16At(const uint8_t* p) {
  return p[0] | (p[1] << 8);
}
uint32_t Le32At(const uint8_t* p) {
  return Le16At(p) | (Le16At(p + 2) << 16);
}

int ReadExact(const ReadAtFn& read_at, uint64_t offset, uint8_t* data, size_t size) {
  while (size > 0) {
    int64_t n = read_at(offset, data, size);
    if (n < 0) return errno != 0 ? errno : EIO;
    if (n == 0) return EIO;  // the package is shorter than its directory says
    offset += static_cast<uint64_t>(n);
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

struct ZipEntry {
  std::string name;
  uint32_t method = 0, crc = 0, packed = 0, unpacked = 0, local_header = 0;
};

int ReadDirectory(const ReadAtFn& read_at, uint64_t file_size, std::vector<ZipEntry>& entries) {
  // The end record (22 bytes and a comment of up to 64 KiB) closes the file.
  size_t tail = static_cast<size_t>(std::min<uint64_t>(file_size, 22 + 0xFFFF));
  std::vector<uint8_t> end(tail);
  if (int err = ReadExact(read_at, file_size - tail, end.data(), tail)) return err;
  if (tail < 22) return EIO;
  size_t at = tail - 22;
  while (Le32At(&end[at]) != 0x06054B50) {
    if (at == 0) return EIO;
    --at;
  }
  uint32_t count = Le16At(&end[at + 10]), size = Le32At(&end[at + 12]),
           offset = Le32At(&end[at + 16]);
  if (uint64_t{offset} + size > file_size) return EIO;
  std::vector<uint8_t> dir(size);
  if (int err = ReadExact(read_at, offset, dir.data(), size)) return err;
  size_t pos = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (pos + 46 > dir.size() || Le32At(&dir[pos]) != 0x02014B50) return EIO;
    const uint8_t* e = &dir[pos];
    size_t name_len = Le16At(e + 28), skip = Le16At(e + 30) + Le16At(e + 32);
    if (pos + 46 + name_len + skip > dir.size()) return EIO;
    ZipEntry entry;
    entry.method = Le16At(e + 10);
    entry.crc = Le32At(e + 16);
    entry.packed = Le32At(e + 20);
    entry.unpacked = Le32At(e + 24);
    entry.local_header = Le32At(e + 42);
    entry.name.assign(reinterpret_cast<const char*>(e + 46), name_len);
    entries.push_back(std::move(entry));
    pos += 46 + name_len + skip;
  }
  return 0;
}

// The first bytes and the last bytes of a part as it inflates, with its length and checksum.
struct PartDigest {
  std::string head, tail;
  uint64_t length = 0;
  uint32_t crc = 0;
  void Add(const uint8_t* data, size_t size) {
    crc = static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
    length += size;
    if (head.size() < 512)
      head.append(reinterpret_cast<const char*>(data), std::min<size_t>(size, 512));
    tail.append(reinterpret_cast<const char*>(data), size);
    if (tail.size() > 256) tail.erase(0, tail.size() - 256);
  }
};

int InflatePart(const ReadAtFn& read_at, uint64_t offset, const ZipEntry& entry,
                PartDigest& digest) {
  z_stream z{};
  if (entry.method == 8 && inflateInit2(&z, -MAX_WBITS) != Z_OK) return ENOMEM;
  std::vector<uint8_t> in(kZipChunk), out(kZipChunk);
  uint64_t left = entry.packed;
  int status = Z_OK, err = 0;
  while (err == 0 && status != Z_STREAM_END && (left > 0 || z.avail_in > 0)) {
    if (z.avail_in == 0) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
      if ((err = ReadExact(read_at, offset, in.data(), n)) != 0) break;
      offset += n;
      left -= n;
      if (entry.method != 8) {
        digest.Add(in.data(), n);
        continue;
      }
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(n);
    }
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    status = inflate(&z, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) err = EIO;
    digest.Add(out.data(), out.size() - z.avail_out);
  }
  if (entry.method == 8) {
    inflateEnd(&z);
    if (err == 0 && status != Z_STREAM_END) err = EIO;
  }
  return err;
}

// An XML part is whole when it ends with the closing tag of its root element.
bool XmlComplete(const PartDigest& part) {
  size_t open = 0;
  for (;;) {
    open = part.head.find('<', open);
    if (open == std::string::npos || open + 1 >= part.head.size()) return false;
    if (part.head[open + 1] != '?' && part.head[open + 1] != '!') break;
    ++open;
  }
  size_t end = part.head.find_first_of(" \t\r\n/>", open + 1);
  if (end == std::string::npos) return false;
  std::string closing = "</" + part.head.substr(open + 1, end - open - 1) + ">";
  std::string_view tail = part.tail;
  while (!tail.empty() && std::isspace(static_cast<unsigned char>(tail.back())))
    tail.remove_suffix(1);
  return tail.size() >= closing.size() && tail.substr(tail.size() - closing.size()) == closing;
}

int CheckPart(const ReadAtFn& read_at, uint64_t file_size, const ZipEntry& entry) {
  uint8_t local[30];
  if (int err = ReadExact(read_at, entry.local_header, local, sizeof local)) return err;
  if (Le32At(local) != 0x04034B50) return EIO;
  uint64_t data = uint64_t{entry.local_header} + 30 + Le16At(local + 26) + Le16At(local + 28);
  if (data + entry.packed > file_size || (entry.method != 0 && entry.method != 8)) return EIO;
  PartDigest digest;
  if (int err = InflatePart(read_at, data, entry, digest)) return err;
  if (digest.length != entry.unpacked || digest.crc != entry.crc) return EIO;
  bool xml = entry.name.ends_with(".xml") || entry.name.ends_with(".rels");
  return xml && !XmlComplete(digest) ? EIO : 0;
}

}  // namespace

int VerifyXlsxPackage(const ReadAtFn& read_at, uint64_t file_size, size_t sheets) {
  std::vector<ZipEntry> entries;
  if (int err = ReadDirectory(read_at, file_size, entries)) return err;
  std::set<std::string> names;
  for (const ZipEntry& entry : entries) {
    if (int err = CheckPart(read_at, file_size, entry)) return err;
    names.insert(entry.name);
  }
  std::vector<std::string> needed = {"[Content_Types].xml", "xl/workbook.xml"};
  for (size_t s = 1; s <= sheets; ++s)
    needed.push_back("xl/worksheets/sheet" + std::to_string(s) + ".xml");
  for (const std::string& name : needed)
    if (!names.count(name)) return EIO;
  return 0;
}

}  // namespace quelvane
