#include "dupes/duplicate_candidates.h"

#include <algorithm>
#include <functional>
#include <string>
#include <unordered_set>

namespace quelvane {

namespace {

struct IdentityHash {
  size_t operator()(const FileIdentity& id) const {
    return std::hash<uint64_t>()(id.inode * 0x9E3779B97F4A7C15ULL ^ id.device);
  }
};

// Marks the rows of rows[first, end) whose file an earlier row of the range already names.
// Two names of one file have one byte count, so within a run of equal byte counts is where
// they meet. A row without a known inode is never taken for another row's file.
class SameFileFinder {
 public:
  void MarkRun(const ResultList& list, int first, int end, std::vector<bool>& repeated) {
    const bool big = end - first > 32;  // a long run is looked up by hash, a short one by scan
    m_seen.clear();
    if (big) m_big.clear();
    for (int row = first; row < end; ++row) {
      const FileFacts facts = list.FactsAt(row);
      if (facts.inode == 0) continue;
      const FileIdentity id{facts.device, facts.inode};
      bool again = false;
      if (big) {
        again = !m_big.insert(id).second;
      } else {
        again = std::find(m_seen.begin(), m_seen.end(), id) != m_seen.end();
        if (!again) m_seen.push_back(id);
      }
      repeated[static_cast<size_t>(row - first)] = again;
    }
  }

 private:
  std::vector<FileIdentity> m_seen;
  std::unordered_set<FileIdentity, IdentityHash> m_big;
};

HashTarget TargetOf(const ResultList& list, int row) {
  const FileFacts facts = list.FactsAt(row);
  HashTarget target;
  target.id = list.IdAt(row);
  target.path = list.CellText(row, ColPath);
  target.expected.bytes = facts.bytes;
  target.expected.identity = FileIdentity{facts.device, facts.inode};
  return target;
}

}  // namespace

CandidateSet MarkDuplicateCandidates(ResultList& list) {
  // One repaint for the whole marking, unless the caller holds the list still already.
  const bool lock = !list.RedrawLocked();
  if (lock) list.LockRedraw();
  list.SortByColumn(ColSize, ByNumber, true);  // by the exact byte count in this list
  CandidateSet set;
  SameFileFinder same_file;
  std::vector<bool> repeated;
  const int n = list.RowCount();
  int row = 0;
  while (row < n) {
    // One run of rows with the same byte count; the rows are sorted by it.
    const uint64_t bytes = list.FactsAt(row).bytes;
    int end = row + 1;
    while (end < n && list.FactsAt(end).bytes == bytes)
      ++end;
    repeated.assign(static_cast<size_t>(end - row), false);
    same_file.MarkRun(list, row, end, repeated);
    const auto members = std::count(repeated.begin(), repeated.end(), false);
    const bool shared = members >= 2;
    if (shared) set.groups.push_back(SizeGroup{static_cast<uint32_t>(set.files.size()), 0});
    for (int r = row; r < end; ++r) {
      const bool again = repeated[static_cast<size_t>(r - row)];
      if (!list.CellView(r, ColDigest).empty()) list.SetCellText(r, ColDigest, "");
      if (again) ++set.same_file_rows;
      if (shared && !again) {
        list.SetCellText(r, ColDupState, kMarkCandidate);
        set.files.push_back(TargetOf(list, r));
        ++set.groups.back().count;
      } else {
        list.SetCellText(r, ColDupState, kMarkNone);
      }
    }
    row = end;
  }
  if (lock) list.UnlockRedraw();
  return set;
}

}  // namespace quelvane
