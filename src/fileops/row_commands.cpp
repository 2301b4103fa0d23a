#include "fileops/row_commands.h"

#include <algorithm>

#include "platform/fs_ops.h"
#include "platform/text.h"

namespace quelvane {

namespace {

// The current row's name, or empty text when there is no current row.
std::string CurrentName(const ResultList& list, std::optional<int> row) {
  return row ? list.CellText(*row, ColName) : std::string();
}

// Runs `work` on the current row unless its name is empty, in which case `empty_message` says
// so.
template <typename Work>
void OnCurrentRow(const ResultList& list, View& view, const char* empty_message, Work work) {
  std::optional<int> row = CurrentRow(list);
  if (CurrentName(list, row).empty()) {
    view.ShowMessage(kMsgInfo, empty_message);
    return;
  }
  work(*row);
}

}  // namespace

std::optional<int> CurrentRow(const ResultList& list) {
  std::vector<int> selected = list.SelectedRows();
  if (selected.empty()) return std::nullopt;
  return *std::min_element(selected.begin(), selected.end());
}

std::string RowClipboardText(const ResultList& list, int row) {
  std::string text;
  for (int column : {ColSeq, ColName, ColPath, ColSize, ColCreated, ColModified}) {
    if (column != ColSeq) text += ' ';
    text += list.CellView(row, column);
  }
  return text;
}

// Clipboard texts are shown text, not paths: bytes that are not UTF-8 become U+FFFD.
void CopyCurrentRow(const ResultList& list, View& view) {
  OnCurrentRow(list, view, "选中项内容为空，无法执行复制本行命令！",
               [&](int row) { view.SetClipboardText(ToValidUtf8(RowClipboardText(list, row))); });
}

void CopyCurrentName(const ResultList& list, View& view) {
  OnCurrentRow(list, view, "选中项内容为空，无法执行复制文件名命令！",
               [&](int row) { view.SetClipboardText(ToValidUtf8(list.CellView(row, ColName))); });
}

void CopyCurrentPath(const ResultList& list, View& view) {
  OnCurrentRow(list, view, "选中项内容为空，无法执行复制路径命令！",
               [&](int row) { view.SetClipboardText(ToValidUtf8(list.CellView(row, ColPath))); });
}

void OpenCurrentFile(const ResultList& list, View& view) {
  std::optional<int> row = CurrentRow(list);
  if (!row) return;  // a double-click beside the rows
  std::string path = list.CellText(*row, ColPath);
  if (PathExists(path)) {
    view.OpenPath(path);
  } else {
    view.ShowMessage(kMsgInfo, "该文件已不存在，是否移动了该文件？");
  }
}

void OpenCurrentFolder(const ResultList& list, View& view) {
  OnCurrentRow(list, view, "选中项内容为空，无法执行打开所在文件夹命令！",
               [&](int row) { view.RevealInFileManager(list.CellText(row, ColPath)); });
}

}  // namespace quelvane
