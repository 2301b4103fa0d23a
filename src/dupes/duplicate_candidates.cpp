#include "dupes/duplicate_candidates.h"

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

// Rows whose file an earlier row already names. A row without a known inode is never taken
// for another row's file.
std::vector<bool> SameFileRows(const ResultList& list) {
  std::vector<bool> repeated(static_cast<size_t>(list.RowCount()), false);
  std::unordered_set<FileIdentity, IdentityHash> seen;
  seen.reserve(repeated.size());
  for (int row = 0; row < list.RowCount(); ++row) {
    const FileFacts facts = list.FactsAt(row);
    if (facts.inode == 0) continue;
    if (!seen.insert(FileIdentity{facts.device, facts.inode}).second) repeated[row] = true;
  }
  return repeated;
}

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
  list.SortByColumn(ColSize, ByNumber, true);  // by the exact byte count in this list
  const std::vector<bool> repeated = SameFileRows(list);
  CandidateSet set;
  const int n = list.RowCount();
  int row = 0;
  while (row < n) {
    // One run of rows with the same byte count; the rows are sorted by it.
    const uint64_t bytes = list.FactsAt(row).bytes;
    int end = row;
    int members = 0;
    while (end < n && list.FactsAt(end).bytes == bytes) {
      if (!repeated[end]) ++members;
      ++end;
    }
    const bool shared = members >= 2;
    if (shared) set.groups.push_back(SizeGroup{static_cast<uint32_t>(set.files.size()), 0});
    for (int r = row; r < end; ++r) {
      if (!list.CellView(r, ColDigest).empty()) list.SetCellText(r, ColDigest, "");
      if (repeated[r]) ++set.same_file_rows;
      if (shared && !repeated[r]) {
        list.SetCellText(r, ColDupState, kMarkCandidate);
        set.files.push_back(TargetOf(list, r));
        ++set.groups.back().count;
      } else {
        list.SetCellText(r, ColDupState, kMarkNone);
      }
    }
    row = end;
  }
  return set;
}

}  // namespace quelvane
