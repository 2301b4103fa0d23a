#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quelvane {

// Message-box flags, as the commands pass them.
inline constexpr int kMsgInfo = 64;      // information icon, OK
inline constexpr int kMsgQuestion = 33;  // question icon, OK and Cancel
inline constexpr int kMsgWarning = 49;   // warning icon, OK and Cancel

// The caption a message box gets when the command names none.
inline const std::string kDefaultCaption = "信息：";

enum class Answer { Ok, Cancel };

enum class PaneStyle { NoBorder, Border };

// A pane width of -1 reaches to the right end of the status bar.
inline constexpr int kPaneToEnd = -1;

struct SaveChoice {
  std::string path;      // exact bytes of the chosen name
  int filter_index = 0;  // index into the filters offered
};

// Everything a command may do to the screen. The core owns this interface; the Qt window, the
// command-line tool and the tests' recorder implement it. All calls come from the thread that
// owns the result list.
class View {
 public:
  virtual ~View() = default;

  virtual Answer ShowMessage(int flags, const std::string& text,
                             const std::string& caption = kDefaultCaption) = 0;

  // Named controls: buttons ("超级按钮1"), check boxes ("选择框1"), edit boxes ("编辑框1").
  virtual void SetButtonCaption(const std::string& button, const std::string& caption) = 0;
  virtual void SetButtonEnabled(const std::string& button, bool enabled) = 0;
  virtual void SetCheckBox(const std::string& name, bool checked) = 0;
  virtual std::string EditText(const std::string& name) = 0;
  virtual void SetEditText(const std::string& name, const std::string& text) = 0;

  // The summary label below the list.
  virtual void SetSummary(const std::string& text) = 0;

  // Status bar panes.
  virtual void RemoveAllPanes() = 0;
  virtual void AddPane(const std::string& text, int width, PaneStyle style) = 0;
  virtual void RemovePane(int index) = 0;
  virtual void SetPaneWidth(int index, int width) = 0;
  virtual void SetPaneText(int index, const std::string& text) = 0;

  // The progress bar; PlaceProgressOverPane lays it over a status-bar pane.
  virtual void ShowProgress(bool visible) = 0;
  virtual void PlaceProgressOverPane(int pane) = 0;
  virtual void SetProgressRange(int64_t minimum, int64_t maximum) = 0;
  virtual void SetProgressPosition(int64_t position) = 0;

  // Dialogs and desktop services. Each answers nullopt / false when the user cancels or the
  // service is missing.
  virtual std::optional<std::string> PickFolder(const std::string& title,
                                                const std::string& start) = 0;
  virtual std::optional<SaveChoice> AskSaveName(const std::vector<std::string>& filters) = 0;
  virtual void SetClipboardText(const std::string& text) = 0;
  virtual bool OpenPath(const std::string& path) = 0;
  virtual bool RevealInFileManager(const std::string& path) = 0;
};

// Control names the commands address.
inline const std::string kFindButton = "超级按钮1";
inline const std::string kMoveButton = "超级按钮2";
inline const std::string kCopyButton = "超级按钮5";
inline const std::string kExportButton = "超级按钮6";
inline const std::string kDeleteCheckedButton = "超级按钮7";
inline const std::string kDeleteDupesButton = "超级按钮10";
inline const std::string kSelectAllBox = "选择框1";
inline const std::string kSearchDirEdit = "编辑框1";
inline const std::string kTargetDirEdit = "编辑框2";

}  // namespace quelvane
