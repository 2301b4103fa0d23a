#pragma once
// The commands on one row, the current one: clipboard texts, opening the file, and showing it
// in the file manager. The core decides and builds the texts; the view does the desktop work.

#include <optional>
#include <string>

#include "results/result_list.h"
#include "view/view.h"

namespace quelvane {

// The lowest selected row, or none.
std::optional<int> CurrentRow(const ResultList& list);

// The six cells of a row that "复制本行" copies, joined by one blank: number, name, path, size,
// creation and modification time.
std::string RowClipboardText(const ResultList& list, int row);

void CopyCurrentRow(const ResultList& list, View& view);
void CopyCurrentName(const ResultList& list, View& view);
void CopyCurrentPath(const ResultList& list, View& view);
// Opens the current row's file with its program, or says that the file is gone. Does nothing
// when no row is selected.
void OpenCurrentFile(const ResultList& list, View& view);
void OpenCurrentFolder(const ResultList& list, View& view);

}  // namespace quelvane
