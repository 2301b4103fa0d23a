#pragma once
// A row for a file on disk, as a find would add it: its name, path, sequence number and facts.
#include <sys/stat.h>

#include <string>

#include "results/result_list.h"

namespace quelvane::testing {

inline int AddFileRow(ResultList& list, const std::string& path, const std::string& dup_state,
                      bool checked) {
  RowData data;
  data.cells[ColSeq] = std::to_string(list.RowCount() + 1);
  data.cells[ColName] = path.substr(path.rfind('/') + 1);
  data.cells[ColPath] = path;
  data.cells[ColDupState] = dup_state;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    data.facts = {static_cast<uint64_t>(st.st_size), static_cast<uint64_t>(st.st_dev),
                  static_cast<uint64_t>(st.st_ino)};
  }
  int row = list.AppendRow(data);
  list.SetRowChecked(row, checked);
  return row;
}

}  // namespace quelvane::testing
