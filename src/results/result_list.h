#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quelvane {

enum Column : int {
  ColCheck = 0,
  ColSeq = 1,
  ColName = 2,
  ColPath = 3,
  ColSize = 4,
  ColCreated = 5,
  ColModified = 6,
  ColDupState = 7,
  ColDigest = 8,
};
inline constexpr int kColumnCount = 9;

enum SortKind : int { ByNumber = 0, ByText = 1, ByDateTime = 2 };

// Duplicate-state marks of ColDupState.
inline const std::string kMarkCandidate = "加入识别";
inline const std::string kMarkNone = "无";

// Colours are COLORREF values (0x00BBGGRR).
using Colour = uint32_t;
inline constexpr Colour kColourRed = 255;
inline constexpr Colour kListTextColour = 0x000000;        // black
inline constexpr Colour kListBackgroundColour = 0xFFFFFF;  // white

struct CellColour {
  int row = 0;
  int column = 0;
  Colour text = 0;
  Colour background = 0;
  bool operator==(const CellColour&) const = default;
};

// Stable identity of a row: survives every sort, never reused within one list's life.
using RowId = uint64_t;

// What the program knows about the file behind a row, beyond its texts.
struct FileFacts {
  uint64_t bytes = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
};

// A row as handed in by a find: nine cell texts (column 0 stays empty) and the file's facts.
struct RowData {
  std::array<std::string, kColumnCount> cells;
  FileFacts facts;
};

// Told what changed, so a view can follow cheaply.
class ListObserver {
 public:
  virtual ~ListObserver() = default;
  virtual void RowsAppended(int first, int count) = 0;
  virtual void RowsCleared() = 0;
  virtual void RowsReordered() = 0;
  virtual void CellsChanged(int first_row, int last_row) = 0;
  virtual void ColoursChanged() = 0;
  virtual void RedrawLocked(bool locked) = 0;
};

// The report list: rows of nine texts, a check state, and the file facts. Owned by one thread.
// Out-of-range reads give empty texts; out-of-range writes do nothing.
class ResultList {
 public:
  static constexpr int ColumnCount() { return kColumnCount; }
  static const std::string& ColumnTitle(int column);

  int AppendRow();
  int AppendRow(RowData row);
  void AppendRows(std::vector<RowData> rows);  // one notification for the batch
  void ClearRows();
  int RowCount() const { return static_cast<int>(m_rows.size()); }

  std::string_view CellView(int row, int column) const;
  std::string CellText(int row, int column) const { return std::string(CellView(row, column)); }
  void SetCellText(int row, int column, std::string_view text);

  bool IsRowChecked(int row) const;
  void SetRowChecked(int row, bool checked);
  // Ticks or unticks every row (the select-all box).
  void SetAllChecked(bool checked);

  // Single selection: at most one row.
  std::vector<int> SelectedRows() const;
  void SetSelectedRow(std::optional<int> row);

  RowId IdAt(int row) const;                 // 0 for a row out of range
  std::optional<int> RowOf(RowId id) const;  // where that row is now
  FileFacts FactsAt(int row) const;
  void SetFacts(int row, const FileFacts& facts);

  // Stable sort of whole rows (texts, check state, identity, facts). ColSize sorts by the byte
  // count; ByText by the texts' GB18030 encodings; any unknown kind counts as ByText.
  void SortByColumn(int column, int kind, bool ascending);

  // The column-header click: kind by column, the shared toggle, colours cleared, then the
  // duplicate rows painted red when show_duplicates is on. Column 0 does nothing.
  void HeaderClick(int column, bool show_duplicates);
  bool SortToggle() const { return m_sort_toggle; }

  void SetCellColour(int row, int column, Colour text, std::optional<Colour> background = {});
  void ClearCellColours();
  const std::vector<CellColour>& CellColourTable() const { return m_colours; }
  // The colours a cell is painted with.
  CellColour ColourOf(int row, int column) const;
  // Red text in columns 1 to 7 of one row.
  void PaintRowRed(int row);

  void LockRedraw();
  void UnlockRedraw();
  bool RedrawLocked() const { return m_redraw_locked; }

  void SetObserver(ListObserver* observer) { m_observer = observer; }

 private:
  struct Row {
    // All nine texts in one buffer; ends[c] is one past the last byte of column c.
    std::string text;
    std::array<uint32_t, kColumnCount> ends{};
    RowId id = 0;
    FileFacts facts;
    bool checked = false;
  };

  static Row MakeRow(RowId id, const std::array<std::string, kColumnCount>& cells);
  std::string_view Cell(const Row& row, int column) const;
  void Reorder(const std::vector<uint32_t>& order);
  void IndexIds() const;
  bool ValidRow(int row) const { return row >= 0 && row < RowCount(); }

  std::vector<Row> m_rows;
  RowId m_next_id = 1;
  std::optional<RowId> m_selected;
  mutable std::unordered_map<RowId, int> m_index;
  mutable bool m_index_valid = false;
  std::vector<CellColour> m_colours;
  std::unordered_map<uint64_t, size_t> m_colour_index;  // (row, column) -> entry
  bool m_sort_toggle = false;
  bool m_redraw_locked = false;
  ListObserver* m_observer = nullptr;
};

}  // namespace quelvane
