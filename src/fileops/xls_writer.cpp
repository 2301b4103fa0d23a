#include "fileops/xls_writer.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <initializer_list>
#include <string>
#include <unordered_map>
#include <utility>

namespace quelvane {
namespace {

// Record types.
constexpr uint16_t kBof = 0x0809, kEof = 0x000A, kInterfaceHdr = 0x00E1, kMms = 0x00C1,
                   kInterfaceEnd = 0x00E2, kWriteAccess = 0x005C, kCodePage = 0x0042, kDsf = 0x0161,
                   kRrTabId = 0x013D, kWinProtect = 0x0019, kProtect = 0x0012, kPassword = 0x0013,
                   kProt4Rev = 0x01AF, kProt4RevPass = 0x01BC, kWindow1 = 0x003D, kBackup = 0x0040,
                   kHideObj = 0x008D, kDate1904 = 0x0022, kCalcPrecision = 0x000E,
                   kRefreshAll = 0x01B7, kBookBool = 0x00DA, kFont = 0x0031, kFormat = 0x041E,
                   kXf = 0x00E0, kStyle = 0x0293, kUsesElfs = 0x0160, kBoundSheet = 0x0085,
                   kCountry = 0x008C, kSst = 0x00FC, kContinue = 0x003C, kExtSst = 0x00FF,
                   kIndex = 0x020B, kDefColWidth = 0x0055, kColInfo = 0x007D, kDimensions = 0x0200,
                   kRow = 0x0208, kLabelSst = 0x00FD, kBlankCell = 0x0201, kDbCell = 0x00D7,
                   kWindow2 = 0x023E;

constexpr size_t kMaxRecordData = 8224;
constexpr uint16_t kDefaultXf = 15;   // General: what an unwritten cell of the sheet shows
constexpr uint16_t kTextXf = 16;      // every written cell
constexpr uint16_t kTextFormat = 49;  // built-in number format "@"
constexpr uint32_t kBlank = 0xFFFFFFFF;
constexpr size_t kRowsPerBlock = 32;
constexpr uint16_t kLastColumn = kColumnCount;  // one past column I
constexpr size_t kFlushBytes = 1 << 16;

// Record sizes, header included, that the sheet geometry is computed from.
constexpr size_t kBofBytes = 20, kDefColWidthBytes = 6, kColInfoBytes = 16, kDimensionsBytes = 18,
                 kRowBytes = 20, kLabelSstBytes = 14, kBlankBytes = 10, kWindow2Bytes = 22,
                 kEofBytes = 4;

// Appends records to a byte vector; the length field is filled in by End.
class Records {
 public:
  explicit Records(std::vector<uint8_t>& out) : m_out(out) {}
  void Begin(uint16_t type) {
    m_start = m_out.size();
    AppendLe16(m_out, type);
    AppendLe16(m_out, 0);
  }
  void End() {
    StoreLe16(m_out.data() + m_start + 2, static_cast<uint32_t>(m_out.size() - m_start - 4));
  }
  void U8(uint32_t v) { m_out.push_back(static_cast<uint8_t>(v)); }
  void U16(uint32_t v) { AppendLe16(m_out, v); }
  void U32(uint32_t v) { AppendLe32(m_out, v); }
  void Ascii(std::string_view text) { m_out.insert(m_out.end(), text.begin(), text.end()); }
  void Words(uint16_t type, std::initializer_list<uint16_t> words) {
    Begin(type);
    for (uint16_t w : words)
      U16(w);
    End();
  }

 private:
  std::vector<uint8_t>& m_out;
  size_t m_start = 0;
};

// The shared string table: SST and CONTINUE records built as strings arrive. A string whose
// characters run past a record's end goes on in a CONTINUE record that starts with the
// string's flag byte again; a string header is never split from its first character.
class SharedStrings {
 public:
  SharedStrings() {
    Begin(kSst);
    AppendLe32(m_bytes, 0);  // total references, filled in by Finish
    AppendLe32(m_bytes, 0);  // unique strings
  }

  void Add(std::string_view utf8) {
    m_units.clear();
    AppendUtf16(utf8, m_units);
    bool wide = std::any_of(m_units.begin(), m_units.end(), [](char16_t u) { return u >= 0x100; });
    size_t unit_bytes = wide ? 2 : 1;
    if (Room() < 3 + unit_bytes) Continue();
    if (m_unique % 8 == 0)
      m_marks.push_back({m_bytes.size(), static_cast<uint16_t>(m_bytes.size() - m_record)});
    ++m_unique;
    AppendLe16(m_bytes, static_cast<uint32_t>(m_units.size()));
    m_bytes.push_back(wide ? 1 : 0);
    size_t done = 0;
    while (done < m_units.size()) {
      size_t fit = Room() / unit_bytes;
      if (fit == 0) {
        Continue();
        m_bytes.push_back(wide ? 1 : 0);
        continue;
      }
      size_t end = std::min(m_units.size(), done + fit);
      for (; done < end; ++done) {
        if (wide) {
          AppendLe16(m_bytes, m_units[done]);
        } else {
          m_bytes.push_back(static_cast<uint8_t>(m_units[done]));
        }
      }
    }
  }

  const std::vector<uint8_t>& Finish(uint32_t total_references) {
    Close();
    StoreLe32(m_bytes.data() + 4, total_references);
    StoreLe32(m_bytes.data() + 8, m_unique);
    return m_bytes;
  }

  // EXTSST: where the first string of each bucket starts, given the SST's stream position.
  std::vector<uint8_t> ExtSst(uint64_t sst_position) const {
    uint32_t per_bucket = std::max<uint32_t>(8, (m_unique + 127) / 128);
    per_bucket = std::min<uint32_t>((per_bucket + 7) / 8 * 8, 0xFFF8);
    std::vector<uint8_t> out;
    Records r(out);
    r.Begin(kExtSst);
    r.U16(per_bucket);
    size_t step = per_bucket / 8;
    for (size_t i = 0; i < m_marks.size() && out.size() + 8 <= kMaxRecordData + 4; i += step) {
      r.U32(static_cast<uint32_t>(sst_position + m_marks[i].offset));
      r.U16(m_marks[i].in_record);
      r.U16(0);
    }
    r.End();
    return out;
  }

 private:
  struct Mark {
    size_t offset;       // from the start of the SST record
    uint16_t in_record;  // from the start of the record holding the string, header included
  };

  size_t Room() const { return kMaxRecordData - (m_bytes.size() - m_record - 4); }
  void Begin(uint16_t type) {
    m_record = m_bytes.size();
    AppendLe16(m_bytes, type);
    AppendLe16(m_bytes, 0);
  }
  void Close() {
    StoreLe16(m_bytes.data() + m_record + 2, static_cast<uint32_t>(m_bytes.size() - m_record - 4));
  }
  void Continue() {
    Close();
    Begin(kContinue);
  }

  std::vector<uint8_t> m_bytes;
  size_t m_record = 0;
  uint32_t m_unique = 0;
  std::vector<Mark> m_marks;  // every eighth string
  std::u16string m_units;
};

// The string index of every list cell (kBlank for a blank cell) and of the titles.
struct CellTable {
  std::vector<uint32_t> index;
  std::array<uint32_t, kColumnCount> titles{};
  uint32_t list_text_cells = 0;

  size_t RowBytes(size_t list_row) const {
    size_t bytes = 0;
    for (size_t c = 0; c < kColumnCount; ++c)
      bytes += index[list_row * kColumnCount + c] == kBlank ? kBlankBytes : kLabelSstBytes;
    return bytes;
  }
};
constexpr size_t kTitleRowBytes = (kColumnCount - 1) * kLabelSstBytes;

int BuildStrings(const WorkbookSnapshot& snapshot, std::stop_token stop, SharedStrings& sst,
                 CellTable& table) {
  std::unordered_map<std::string_view, uint32_t> known;
  known.reserve(snapshot.rows.size() * 5 + 16);
  std::deque<std::string> converted;  // texts that had to change; the map points into them
  std::string scratch;
  auto index_of = [&](std::string_view text) {
    auto [it, added] = known.try_emplace(text, static_cast<uint32_t>(known.size()));
    if (added) sst.Add(text);
    return it->second;
  };
  for (int c = 1; c < kColumnCount; ++c)
    table.titles[c] = index_of(ResultList::ColumnTitle(c));
  table.index.resize(snapshot.rows.size() * kColumnCount, kBlank);
  for (size_t r = 0; r < snapshot.rows.size(); ++r) {
    if (r % 4096 == 0 && stop.stop_requested()) return ECANCELED;
    for (size_t c = 0; c < kColumnCount; ++c) {
      std::string_view text = CellTextOf(snapshot.rows[r][c], scratch);
      if (text.empty()) continue;
      if (text.data() == scratch.data()) {
        converted.push_back(std::move(scratch));
        scratch.clear();
        text = converted.back();
      }
      table.index[r * kColumnCount + c] = index_of(text);
      ++table.list_text_cells;
    }
  }
  return 0;
}

void Bof(Records& r, uint16_t kind) {
  r.Begin(kBof);
  r.U16(0x0600);  // BIFF8
  r.U16(kind);
  r.U16(0x0DBB);  // build
  r.U16(0x07CC);  // year
  r.U32(0);
  r.U32(6);  // lowest version that can read the file: BIFF8
  r.End();
}

void Fonts(Records& r) {
  // Font index 4 does not exist in this format, so five records give fonts 0-3 and 5.
  for (int i = 0; i < 5; ++i) {
    r.Begin(kFont);
    r.U16(200);     // 10 points
    r.U16(0);       // plain
    r.U16(0x7FFF);  // automatic colour
    r.U16(400);     // normal weight
    r.U16(0);
    r.U32(0);  // underline, family, character set, reserved
    r.U8(5);
    r.U8(0);
    r.Ascii("Arial");
    r.End();
  }
}

void Formats(Records& r) {
  // The currency formats every workbook carries; our cells use the built-in "@" (49).
  static const std::pair<uint16_t, std::string_view> kFormats[] = {
      {5, R"("$"#,##0_);\("$"#,##0\))"},
      {6, R"("$"#,##0_);[Red]\("$"#,##0\))"},
      {7, R"("$"#,##0.00_);\("$"#,##0.00\))"},
      {8, R"("$"#,##0.00_);[Red]\("$"#,##0.00\))"},
      {42, R"(_("$"* #,##0_);_("$"* \(#,##0\);_("$"* "-"_);_(@_))"},
      {41, R"(_(* #,##0_);_(* \(#,##0\);_(* "-"_);_(@_))"},
      {44, R"(_("$"* #,##0.00_);_("$"* \(#,##0.00\);_("$"* "-"??_);_(@_))"},
      {43, R"(_(* #,##0.00_);_(* \(#,##0.00\);_(* "-"??_);_(@_))"},
  };
  for (const auto& [id, code] : kFormats) {
    r.Begin(kFormat);
    r.U16(id);
    r.U16(static_cast<uint32_t>(code.size()));
    r.U8(0);
    r.Ascii(code);
    r.End();
  }
}

void Xf(Records& r, uint16_t font, uint16_t format, uint16_t type_and_parent, uint8_t used) {
  r.Begin(kXf);
  r.U16(font);
  r.U16(format);
  r.U16(type_and_parent);
  r.U8(0x20);  // horizontal general, vertical bottom
  r.U8(0);
  r.U8(0);
  r.U8(used);
  r.U32(0);  // no borders
  r.U32(0);
  r.U16(0x20C0);  // pattern colours: system foreground and background
  r.End();
}

void Xfs(Records& r) {
  Xf(r, 0, 0, 0xFFF5, 0x00);  // style XF 0: Normal
  for (uint16_t i = 1; i < 15; ++i)
    Xf(r, i <= 2 ? 1 : i <= 4 ? 2 : 0, 0, 0xFFF5, 0xF4);
  Xf(r, 0, 0, 0x0001, 0x00);            // 15: default cell XF
  Xf(r, 0, kTextFormat, 0x0001, 0x04);  // 16: text cells, own number format
}

void ShortName(Records& r, std::string_view ascii) {
  r.U8(static_cast<uint32_t>(ascii.size()));
  r.U8(0);
  r.Ascii(ascii);
}

// Globals up to the shared strings. Returns where each sheet's stream offset goes.
std::vector<size_t> GlobalsPrefix(std::vector<uint8_t>& out, size_t sheets) {
  Records r(out);
  Bof(r, 0x0005);
  r.Words(kInterfaceHdr, {1200});
  r.Words(kMms, {0});
  r.Words(kInterfaceEnd, {});
  r.Begin(kWriteAccess);
  std::string_view user = "Quelvane";
  r.U16(static_cast<uint32_t>(user.size()));
  r.U8(0);
  r.Ascii(user);
  out.resize(out.size() + 112 - 3 - user.size(), ' ');
  r.End();
  r.Words(kCodePage, {1200});
  r.Words(kDsf, {0});
  r.Begin(kRrTabId);
  for (size_t i = 0; i < sheets; ++i)
    r.U16(static_cast<uint32_t>(i + 1));
  r.End();
  for (uint16_t type : {kWinProtect, kProtect, kPassword, kProt4Rev, kProt4RevPass})
    r.Words(type, {0});
  r.Words(kWindow1, {0x0168, 0x001E, 0x3A5C, 0x23BE, 0x0038, 0, 0, 1, 600});
  for (uint16_t type : {kBackup, kHideObj, kDate1904})
    r.Words(type, {0});
  r.Words(kCalcPrecision, {1});
  r.Words(kRefreshAll, {0});
  r.Words(kBookBool, {0});
  Fonts(r);
  Formats(r);
  Xfs(r);
  r.Begin(kStyle);
  r.U16(0x8000);  // built-in style of XF 0
  r.U8(0);        // Normal
  r.U8(0xFF);
  r.End();
  r.Words(kUsesElfs, {0});
  std::vector<size_t> offsets;
  for (size_t i = 0; i < sheets; ++i) {
    r.Begin(kBoundSheet);
    offsets.push_back(out.size());
    r.U32(0);
    r.U8(0);  // visible
    r.U8(0);  // worksheet
    ShortName(r, SheetName(i));
    r.End();
  }
  r.Words(kCountry, {1, 1});
  return offsets;
}

struct SheetSpan {
  size_t first = 0;  // first list row
  size_t count = 0;  // list rows
  size_t Rows() const { return count + 1; }
  size_t Blocks() const { return (Rows() + kRowsPerBlock - 1) / kRowsPerBlock; }
};

struct SheetGeometry {
  uint64_t size = 0;
  uint64_t def_col_width = 0;     // stream position of DEFCOLWIDTH
  std::vector<uint64_t> dbcells;  // stream position of each block's DBCELL
};

size_t SheetRowBytes(const CellTable& table, const SheetSpan& span, size_t sheet_row) {
  return sheet_row == 0 ? kTitleRowBytes : table.RowBytes(span.first + sheet_row - 1);
}

SheetGeometry Measure(const CellTable& table, const SheetSpan& span, uint64_t start) {
  SheetGeometry g;
  uint64_t pos = start + kBofBytes + 20 + 4 * span.Blocks();
  g.def_col_width = pos;
  pos += kDefColWidthBytes + kColumnCount * kColInfoBytes + kDimensionsBytes;
  for (size_t b = 0; b < span.Blocks(); ++b) {
    size_t first = b * kRowsPerBlock;
    size_t rows = std::min(kRowsPerBlock, span.Rows() - first);
    pos += rows * kRowBytes;
    for (size_t j = 0; j < rows; ++j)
      pos += SheetRowBytes(table, span, first + j);
    g.dbcells.push_back(pos);
    pos += 8 + 2 * rows;
  }
  pos += kWindow2Bytes + kEofBytes;
  g.size = pos - start;
  return g;
}

// Sheet records go through a small buffer to the sink; Pos is the absolute stream position.
class SheetOut {
 public:
  SheetOut(const ByteSink& sink, uint64_t pos) : m_sink(sink), m_flushed(pos), m_records(m_buf) {}
  Records& R() { return m_records; }
  uint64_t Pos() const { return m_flushed + m_buf.size(); }
  int Flush(bool always) {
    if (m_buf.empty() || (!always && m_buf.size() < kFlushBytes)) return 0;
    int err = m_sink(m_buf.data(), m_buf.size());
    m_flushed += m_buf.size();
    m_buf.clear();
    return err;
  }

 private:
  const ByteSink& m_sink;
  uint64_t m_flushed;
  std::vector<uint8_t> m_buf;
  Records m_records;
};

void SheetHead(Records& r, const SheetSpan& span, const SheetGeometry& g) {
  Bof(r, 0x0010);
  r.Begin(kIndex);
  r.U32(0);
  r.U32(0);
  r.U32(static_cast<uint32_t>(span.Rows()));
  r.U32(static_cast<uint32_t>(g.def_col_width));
  for (uint64_t pos : g.dbcells)
    r.U32(static_cast<uint32_t>(pos));
  r.End();
  r.Words(kDefColWidth, {8});
  // Widths in 1/256 of a character: check box, number, name, path, size, two times, mark, md5.
  static const uint16_t kWidths[kColumnCount] = {3, 8, 30, 60, 12, 20, 20, 14, 34};
  for (uint16_t c = 0; c < kColumnCount; ++c)
    r.Words(kColInfo, {c, c, static_cast<uint16_t>(kWidths[c] * 256), kDefaultXf, 0, 0});
  r.Begin(kDimensions);
  r.U32(0);
  r.U32(static_cast<uint32_t>(span.Rows()));
  r.U16(span.count ? 0 : 1);
  r.U16(kLastColumn);
  r.U16(0);
  r.End();
}

void RowCells(Records& r, const CellTable& table, const SheetSpan& span, size_t sheet_row) {
  auto row = static_cast<uint16_t>(sheet_row);
  for (uint16_t c = sheet_row == 0 ? 1 : 0; c < kColumnCount; ++c) {
    uint32_t index = sheet_row == 0 ? table.titles[c]
                                    : table.index[(span.first + sheet_row - 1) * kColumnCount + c];
    if (index == kBlank) {
      r.Words(kBlankCell, {row, c, kTextXf});
    } else {
      r.Begin(kLabelSst);
      r.U16(row);
      r.U16(c);
      r.U16(kTextXf);
      r.U32(index);
      r.End();
    }
  }
}

int WriteBlock(SheetOut& out, const CellTable& table, const SheetSpan& span, size_t first,
               uint64_t dbcell_pos) {
  Records& r = out.R();
  size_t rows = std::min(kRowsPerBlock, span.Rows() - first);
  uint64_t block_start = out.Pos();
  for (size_t j = 0; j < rows; ++j) {
    auto row = static_cast<uint16_t>(first + j);
    r.Words(kRow, {row, static_cast<uint16_t>(first + j == 0 ? 1 : 0), kLastColumn, 0x00FF, 0, 0,
                   0x0100, kDefaultXf});
  }
  for (size_t j = 0; j < rows; ++j)
    RowCells(r, table, span, first + j);
  if (out.Pos() != dbcell_pos) return EINVAL;
  r.Begin(kDbCell);
  r.U32(static_cast<uint32_t>(dbcell_pos - block_start));
  r.U16(static_cast<uint32_t>((rows - 1) * kRowBytes));
  for (size_t j = 1; j < rows; ++j)
    r.U16(static_cast<uint32_t>(SheetRowBytes(table, span, first + j - 1)));
  r.End();
  return out.Flush(false);
}

int WriteSheet(const ByteSink& sink, const CellTable& table, const SheetSpan& span, uint64_t start,
               bool selected, std::stop_token stop) {
  SheetGeometry g = Measure(table, span, start);
  SheetOut out(sink, start);
  SheetHead(out.R(), span, g);
  for (size_t b = 0; b < span.Blocks(); ++b) {
    if (stop.stop_requested()) return ECANCELED;
    if (int err = WriteBlock(out, table, span, b * kRowsPerBlock, g.dbcells[b])) return err;
  }
  out.R().Words(kWindow2,
                {static_cast<uint16_t>(selected ? 0x06B6 : 0x00B6), 0, 0, 0x40, 0, 0, 0, 0, 0});
  out.R().Words(kEof, {});
  if (out.Pos() != start + g.size) return EINVAL;
  return out.Flush(true);
}

}  // namespace

int WriteXlsWorkbook(const ByteSink& out, const WorkbookSnapshot& snapshot, std::stop_token stop,
                     size_t sheet_rows) {
  sheet_rows = std::clamp<size_t>(sheet_rows, 2, kXlsSheetRows);
  SharedStrings sst;
  CellTable table;
  if (int err = BuildStrings(snapshot, stop, sst, table)) return err;

  size_t sheets = SheetCountFor(snapshot.rows.size(), sheet_rows);
  std::vector<SheetSpan> spans;
  for (size_t s = 0; s < sheets; ++s) {
    size_t first = s * (sheet_rows - 1);
    spans.push_back({first, std::min(sheet_rows - 1, snapshot.rows.size() - first)});
  }

  std::vector<uint8_t> prefix;
  std::vector<size_t> sheet_offsets = GlobalsPrefix(prefix, sheets);
  const std::vector<uint8_t>& strings =
      sst.Finish(table.list_text_cells + static_cast<uint32_t>(sheets * (kColumnCount - 1)));
  std::vector<uint8_t> suffix = sst.ExtSst(prefix.size());
  Records(suffix).Words(kEof, {});

  uint64_t pos = prefix.size() + strings.size() + suffix.size();
  std::vector<uint64_t> starts;
  for (size_t s = 0; s < sheets; ++s) {
    starts.push_back(pos);
    pos += Measure(table, spans[s], pos).size;
  }
  if (pos > kCfbMaxStreamSize) return EFBIG;
  for (size_t s = 0; s < sheets; ++s)
    StoreLe32(prefix.data() + sheet_offsets[s], static_cast<uint32_t>(starts[s]));

  auto produce = [&](const ByteSink& sink) -> int {
    for (const std::vector<uint8_t>* part :
         std::initializer_list<const std::vector<uint8_t>*>{&prefix, &strings, &suffix})
      if (int err = sink(part->data(), part->size())) return err;
    for (size_t s = 0; s < sheets; ++s)
      if (int err = WriteSheet(sink, table, spans[s], starts[s], s == 0, stop)) return err;
    return 0;
  };
  // The class id of an Excel 97-2003 workbook, {00020820-0000-0000-C000-000000000046}.
  CfbStream stream{u"Workbook",
                   pos,
                   {0x20, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00,
                    0x00, 0x00, 0x46}};
  return WriteCompoundFile(out, stream, produce);
}

}  // namespace quelvane
