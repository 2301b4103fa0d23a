#include "results/result_list.h"

#include <algorithm>
#include <limits>
#include <numeric>

#include "platform/gb18030.h"
#include "platform/text.h"
#include "results/sort_keys.h"

namespace quelvane {
namespace {

const std::array<std::string, kColumnCount> kTitles = {
    "", "序号", "名称", "路径", "大小", "创建时间", "修改时间", "是否存在重复", "md5"};

uint64_t ColourKey(int row, int column) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(row)) << 8) | static_cast<uint32_t>(column);
}

}  // namespace

const std::string& ResultList::ColumnTitle(int column) {
  static const std::string kEmpty;
  return column >= 0 && column < kColumnCount ? kTitles[column] : kEmpty;
}

ResultList::Row ResultList::MakeRow(RowId id, const std::array<std::string, kColumnCount>& cells) {
  Row row;
  row.id = id;
  size_t total = 0;
  for (int c = 1; c < kColumnCount; ++c)
    total += cells[c].size();
  row.text.reserve(total);
  row.ends[0] = 0;  // column 0 never holds text
  for (int c = 1; c < kColumnCount; ++c) {
    row.text += cells[c];
    row.ends[c] = static_cast<uint32_t>(row.text.size());
  }
  return row;
}

std::string_view ResultList::Cell(const Row& row, int column) const {
  uint32_t begin = column == 0 ? 0 : row.ends[column - 1];
  return std::string_view(row.text).substr(begin, row.ends[column] - begin);
}

int ResultList::AppendRow() {
  return AppendRow(RowData{});
}

int ResultList::AppendRow(RowData data) {
  Row row = MakeRow(m_next_id++, data.cells);
  row.facts = data.facts;
  m_rows.push_back(std::move(row));
  if (m_index_valid) m_index[m_rows.back().id] = RowCount() - 1;
  if (m_observer) m_observer->RowsAppended(RowCount() - 1, 1);
  return RowCount() - 1;
}

void ResultList::AppendRows(std::vector<RowData> rows) {
  if (rows.empty()) return;
  int first = RowCount();
  m_rows.reserve(m_rows.size() + rows.size());
  for (auto& data : rows) {
    Row row = MakeRow(m_next_id++, data.cells);
    row.facts = data.facts;
    m_rows.push_back(std::move(row));
  }
  m_index_valid = false;
  if (m_observer) m_observer->RowsAppended(first, static_cast<int>(rows.size()));
}

void ResultList::ClearRows() {
  m_rows.clear();
  m_rows.shrink_to_fit();
  m_index.clear();
  m_index_valid = false;
  m_selected.reset();
  if (m_observer) m_observer->RowsCleared();
}

std::string_view ResultList::CellView(int row, int column) const {
  if (!ValidRow(row) || column < 0 || column >= kColumnCount) return {};
  return Cell(m_rows[row], column);
}

void ResultList::SetCellText(int row, int column, std::string_view text) {
  // Column 0 carries only the check box.
  if (!ValidRow(row) || column <= 0 || column >= kColumnCount) return;
  Row& r = m_rows[row];
  uint32_t begin = r.ends[column - 1];
  uint32_t end = r.ends[column];
  if (std::string_view(r.text).substr(begin, end - begin) == text) return;
  r.text.replace(begin, end - begin, text);
  int64_t delta = static_cast<int64_t>(text.size()) - static_cast<int64_t>(end - begin);
  for (int c = column; c < kColumnCount; ++c) {
    r.ends[c] = static_cast<uint32_t>(static_cast<int64_t>(r.ends[c]) + delta);
  }
  if (m_observer) m_observer->CellsChanged(row, row);
}

bool ResultList::IsRowChecked(int row) const {
  return ValidRow(row) && m_rows[row].checked;
}

void ResultList::SetRowChecked(int row, bool checked) {
  if (!ValidRow(row) || m_rows[row].checked == checked) return;
  m_rows[row].checked = checked;
  if (m_observer) m_observer->CellsChanged(row, row);
}

void ResultList::SetAllChecked(bool checked) {
  if (m_rows.empty()) return;
  for (auto& r : m_rows)
    r.checked = checked;
  if (m_observer) m_observer->CellsChanged(0, RowCount() - 1);
}

std::vector<int> ResultList::SelectedRows() const {
  if (!m_selected) return {};
  auto row = RowOf(*m_selected);
  if (!row) return {};
  return {*row};
}

void ResultList::SetSelectedRow(std::optional<int> row) {
  if (row && ValidRow(*row)) {
    m_selected = m_rows[*row].id;
  } else {
    m_selected.reset();
  }
}

RowId ResultList::IdAt(int row) const {
  return ValidRow(row) ? m_rows[row].id : 0;
}

void ResultList::IndexIds() const {
  if (m_index_valid) return;
  m_index.clear();
  m_index.reserve(m_rows.size());
  for (int i = 0; i < RowCount(); ++i)
    m_index[m_rows[i].id] = i;
  m_index_valid = true;
}

std::optional<int> ResultList::RowOf(RowId id) const {
  IndexIds();
  auto it = m_index.find(id);
  if (it == m_index.end()) return std::nullopt;
  return it->second;
}

FileFacts ResultList::FactsAt(int row) const {
  return ValidRow(row) ? m_rows[row].facts : FileFacts{};
}

void ResultList::SetFacts(int row, const FileFacts& facts) {
  if (ValidRow(row)) m_rows[row].facts = facts;
}

void ResultList::Reorder(const std::vector<uint32_t>& order) {
  std::vector<Row> sorted;
  sorted.reserve(m_rows.size());
  for (uint32_t i : order)
    sorted.push_back(std::move(m_rows[i]));
  m_rows = std::move(sorted);
  m_index_valid = false;
  if (m_observer) m_observer->RowsReordered();
}

namespace {

// A text key's first 16 bytes, big-endian, zero-padded: most comparisons end here without
// touching the full keys, which keeps a sort of a million rows in the cache.
struct TextPrefix {
  bool unconverted;
  uint64_t high;
  uint64_t low;
};

uint64_t PackBytes(std::string_view bytes, size_t from) {
  uint64_t v = 0;
  for (size_t i = 0; i < 8; ++i) {
    v <<= 8;
    if (from + i < bytes.size()) v |= static_cast<unsigned char>(bytes[from + i]);
  }
  return v;
}

// Stable sort of (key, row) pairs by key; ties keep their row order in both directions.
template <class Key, class Less>
std::vector<uint32_t> StableOrder(std::vector<std::pair<Key, uint32_t>>& keyed, bool ascending,
                                  Less less) {
  if (ascending) {
    std::stable_sort(keyed.begin(), keyed.end(),
                     [&](const auto& a, const auto& b) { return less(a, b); });
  } else {
    std::stable_sort(keyed.begin(), keyed.end(),
                     [&](const auto& a, const auto& b) { return less(b, a); });
  }
  std::vector<uint32_t> order(keyed.size());
  for (size_t i = 0; i < keyed.size(); ++i)
    order[i] = keyed[i].second;
  return order;
}

template <class Key>
std::vector<uint32_t> StableOrder(std::vector<std::pair<Key, uint32_t>>& keyed, bool ascending) {
  return StableOrder(keyed, ascending,
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

}  // namespace

void ResultList::SortByColumn(int column, int kind, bool ascending) {
  if (kind != ByNumber && kind != ByDateTime) kind = ByText;
  const size_t n = m_rows.size();
  if (n < 2 || column < 0 || column >= kColumnCount) return;
  std::vector<uint32_t> order;
  if (kind == ByNumber && column == ColSize) {
    std::vector<std::pair<uint64_t, uint32_t>> keyed(n);
    for (uint32_t i = 0; i < n; ++i)
      keyed[i] = {m_rows[i].facts.bytes, i};
    order = StableOrder(keyed, ascending);
  } else if (kind == ByNumber) {
    std::vector<std::pair<double, uint32_t>> keyed(n);
    for (uint32_t i = 0; i < n; ++i)
      keyed[i] = {SortNumber(Cell(m_rows[i], column)), i};
    order = StableOrder(keyed, ascending);
  } else if (kind == ByDateTime) {
    std::vector<std::pair<int64_t, uint32_t>> keyed(n);
    for (uint32_t i = 0; i < n; ++i) {
      keyed[i] = {
          ParseDateTimeKey(Cell(m_rows[i], column)).value_or(std::numeric_limits<int64_t>::min()),
          i};
    }
    order = StableOrder(keyed, ascending);
  } else {
    // Texts compare by their GB18030 bytes; a text that cannot be converted comes after every
    // converted one and compares by its own bytes.
    std::vector<std::string> full(n);
    std::vector<std::pair<TextPrefix, uint32_t>> keyed(n);
    Gb18030Encoder encoder;
    for (uint32_t i = 0; i < n; ++i) {
      std::string_view text = Cell(m_rows[i], column);
      bool converted = encoder.Encode(text, full[i]);
      if (!converted) full[i].assign(text);
      keyed[i] = {{!converted, PackBytes(full[i], 0), PackBytes(full[i], 8)}, i};
    }
    order = StableOrder(keyed, ascending, [&](const auto& a, const auto& b) {
      const TextPrefix& x = a.first;
      const TextPrefix& y = b.first;
      if (x.unconverted != y.unconverted) return y.unconverted;
      if (x.high != y.high) return x.high < y.high;
      if (x.low != y.low) return x.low < y.low;
      if (full[a.second].size() <= 16 && full[b.second].size() <= 16) {
        return full[a.second].size() < full[b.second].size();
      }
      return std::string_view(full[a.second]).substr(16) <
             std::string_view(full[b.second]).substr(16);
    });
  }
  Reorder(order);
}

void ResultList::HeaderClick(int column, bool show_duplicates) {
  int kind;
  switch (column) {
    case ColSeq:
    case ColSize:
      kind = ByNumber;
      break;
    case ColCreated:
    case ColModified:
      kind = ByDateTime;
      break;
    case ColName:
    case ColPath:
    case ColDupState:
    case ColDigest:
      kind = ByText;
      break;
    default:
      return;
  }
  SortByColumn(column, kind, !m_sort_toggle);
  m_sort_toggle = !m_sort_toggle;
  ClearCellColours();
  if (show_duplicates) {
    for (int r = 0; r < RowCount(); ++r) {
      if (Cell(m_rows[r], ColDupState) != kMarkNone) PaintRowRed(r);
    }
  }
}

void ResultList::SetCellColour(int row, int column, Colour text, std::optional<Colour> background) {
  Colour bg = background.value_or(kListBackgroundColour);
  bool plain = text == kListTextColour && bg == kListBackgroundColour;
  uint64_t key = ColourKey(row, column);
  auto it = m_colour_index.find(key);
  if (it != m_colour_index.end()) {
    if (plain) {
      m_colours.erase(m_colours.begin() + static_cast<std::ptrdiff_t>(it->second));
      m_colour_index.clear();
      for (size_t i = 0; i < m_colours.size(); ++i) {
        m_colour_index[ColourKey(m_colours[i].row, m_colours[i].column)] = i;
      }
    } else {
      m_colours[it->second].text = text;
      m_colours[it->second].background = bg;
    }
  } else if (!plain) {
    m_colour_index[key] = m_colours.size();
    m_colours.push_back({row, column, text, bg});
  }
  if (m_observer && !m_redraw_locked) m_observer->ColoursChanged();
}

void ResultList::ClearCellColours() {
  if (m_colours.empty()) return;
  m_colours.clear();
  m_colour_index.clear();
  if (m_observer) m_observer->ColoursChanged();
}

CellColour ResultList::ColourOf(int row, int column) const {
  auto it = m_colour_index.find(ColourKey(row, column));
  if (it == m_colour_index.end()) {
    return {row, column, kListTextColour, kListBackgroundColour};
  }
  return m_colours[it->second];
}

void ResultList::PaintRowRed(int row) {
  for (int c = ColSeq; c <= ColDupState; ++c)
    SetCellColour(row, c, kColourRed);
}

void ResultList::LockRedraw() {
  if (m_redraw_locked) return;
  m_redraw_locked = true;
  if (m_observer) m_observer->RedrawLocked(true);
}

void ResultList::UnlockRedraw() {
  if (!m_redraw_locked) return;
  m_redraw_locked = false;
  if (m_observer) {
    m_observer->RedrawLocked(false);
    m_observer->ColoursChanged();
  }
}

}  // namespace quelvane
