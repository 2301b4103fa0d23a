#pragma once

#include <cstdio>
#include <string>

#include <map>
#include <vector>

#include "view/view.h"

namespace quelvane {

// The terminal face of the View: messages go to standard error, confirmations are asked on the
// terminal (or answered yes by --yes), and the status bar becomes one progress line on standard
// error when that is a terminal.
class CliView : public View {
 public:
  CliView(bool show_progress, bool assume_yes) : m_progress(show_progress), m_yes(assume_yes) {}

  // Every message shown, in order.
  const std::vector<std::string>& Messages() const { return m_messages; }
  // The last message with the information icon.
  const std::string& LastInfo() const { return m_last_info; }
  void ClearProgressLine();

  Answer ShowMessage(int flags, const std::string& text, const std::string& caption) override;
  void SetButtonCaption(const std::string&, const std::string&) override {}
  void SetButtonEnabled(const std::string&, bool) override {}
  void SetCheckBox(const std::string&, bool) override {}
  std::string EditText(const std::string& name) override;
  void SetEditText(const std::string& name, const std::string& text) override;
  void SetSummary(const std::string&) override {}
  void RemoveAllPanes() override;
  void AddPane(const std::string& text, int width, PaneStyle style) override;
  void RemovePane(int index) override;
  void SetPaneWidth(int, int) override {}
  void SetPaneText(int index, const std::string& text) override;
  void ShowProgress(bool visible) override;
  void PlaceProgressOverPane(int) override {}
  void SetProgressRange(int64_t minimum, int64_t maximum) override;
  void SetProgressPosition(int64_t position) override;
  std::optional<std::string> PickFolder(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<SaveChoice> AskSaveName(const std::vector<std::string>&) override {
    return std::nullopt;
  }
  void SetClipboardText(const std::string&) override {}
  bool OpenPath(const std::string&) override { return false; }
  bool RevealInFileManager(const std::string&) override { return false; }

 private:
  void Redraw();

  bool m_progress;
  bool m_yes;
  std::vector<std::string> m_messages;
  std::string m_last_info;
  std::map<std::string, std::string> m_edits;
  std::vector<std::string> m_panes;
  bool m_bar = false;
  int64_t m_max = 0, m_pos = 0;
  bool m_line_shown = false;
};

}  // namespace quelvane
