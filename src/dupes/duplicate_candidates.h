#pragma once

#include <cstdint>
#include <vector>

#include "dupes/file_hashing.h"
#include "results/result_list.h"

namespace quelvane {

// Candidates of one byte count: files[first .. first + count).
struct SizeGroup {
  uint32_t first = 0;
  uint32_t count = 0;
};

struct CandidateSet {
  // Ascending by byte count, in list order within one count.
  std::vector<HashTarget> files;
  std::vector<SizeGroup> groups;
  // Rows left out because an earlier row is the same file (a hard link, or reached twice).
  int64_t same_file_rows = 0;
};

// On the owning thread: sorts the list by exact byte count (stable, ascending), empties every
// ColDigest, and marks ColDupState: "加入识别" for a row whose byte count another row shares,
// "无" for every other row and for a row whose (device, inode) an earlier row already has.
// Returns the copy of the candidates that the workers hash.
CandidateSet MarkDuplicateCandidates(ResultList& list);

}  // namespace quelvane
