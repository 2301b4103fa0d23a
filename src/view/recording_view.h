#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "view/view.h"

namespace quelvane {

// A View for tests: records every call in order as one line of text and answers message boxes
// and dialogs from scripts. Unscripted boxes answer OK; unscripted dialogs answer cancel.
//
// Record lines:
//   message <flags> <caption> <text>      button-caption <name> <caption>
//   button-enabled <name> 0|1             check <name> 0|1
//   summary <text>                         panes-clear
//   pane-add <text> <width> noborder|border
//   pane-remove <i>   pane-width <i> <w>   pane-text <i> <text>
//   progress-show 0|1  progress-over <i>   progress-range <min> <max>   progress-pos <p>
//   edit <name> <text>  pick-folder <title>  ask-save  clipboard <text>  open <path>  reveal <path>
// Fields are separated by one '|'.
class RecordingView : public View {
 public:
  std::vector<std::string> log;

  std::deque<Answer> message_answers;
  std::deque<std::optional<std::string>> folder_answers;
  std::deque<std::optional<SaveChoice>> save_answers;
  std::map<std::string, std::string> edits;
  bool open_result = true;
  bool reveal_result = true;
  bool record_progress_positions = true;

  // The messages shown so far, texts only.
  std::vector<std::string> Messages() const;
  // Lines of the log that begin with the given prefix.
  std::vector<std::string> LinesStartingWith(const std::string& prefix) const;
  // Current state as the window would show it.
  std::vector<std::string> panes;
  std::map<std::string, std::string> captions;
  std::map<std::string, bool> enabled;
  std::map<std::string, bool> checks;
  std::string summary;
  bool progress_visible = false;
  int64_t progress_min = 0, progress_max = 0, progress_pos = 0;
  std::string clipboard;

  Answer ShowMessage(int flags, const std::string& text, const std::string& caption) override;
  void SetButtonCaption(const std::string& button, const std::string& caption) override;
  void SetButtonEnabled(const std::string& button, bool on) override;
  void SetCheckBox(const std::string& name, bool checked) override;
  std::string EditText(const std::string& name) override;
  void SetEditText(const std::string& name, const std::string& text) override;
  void SetSummary(const std::string& text) override;
  void RemoveAllPanes() override;
  void AddPane(const std::string& text, int width, PaneStyle style) override;
  void RemovePane(int index) override;
  void SetPaneWidth(int index, int width) override;
  void SetPaneText(int index, const std::string& text) override;
  void ShowProgress(bool visible) override;
  void PlaceProgressOverPane(int pane) override;
  void SetProgressRange(int64_t minimum, int64_t maximum) override;
  void SetProgressPosition(int64_t position) override;
  std::optional<std::string> PickFolder(const std::string& title,
                                        const std::string& start) override;
  std::optional<SaveChoice> AskSaveName(const std::vector<std::string>& filters) override;
  void SetClipboardText(const std::string& text) override;
  bool OpenPath(const std::string& path) override;
  bool RevealInFileManager(const std::string& path) override;
};

}  // namespace quelvane
