#include "cli/cli_view.h"

#include <unistd.h>

#include <iostream>

namespace quelvane {

Answer CliView::ShowMessage(int flags, const std::string& text, const std::string& /*caption*/) {
  ClearProgressLine();
  m_messages.push_back(text);
  if (flags == kMsgInfo) {
    m_last_info = text;
    std::cerr << text << "\n";
    return Answer::Ok;
  }
  // A question: OK goes on, anything else ends the command.
  if (m_yes) return Answer::Ok;
  std::cerr << text << " [y/n] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return Answer::Cancel;
  return answer == "y" || answer == "Y" || answer == "yes" ? Answer::Ok : Answer::Cancel;
}

std::string CliView::EditText(const std::string& name) {
  auto it = m_edits.find(name);
  return it == m_edits.end() ? std::string() : it->second;
}

void CliView::SetEditText(const std::string& name, const std::string& text) {
  m_edits[name] = text;
}

void CliView::RemoveAllPanes() {
  m_panes.clear();
  Redraw();
}

void CliView::AddPane(const std::string& text, int, PaneStyle) {
  m_panes.push_back(text);
  Redraw();
}

void CliView::RemovePane(int index) {
  if (index >= 0 && index < static_cast<int>(m_panes.size()))
    m_panes.erase(m_panes.begin() + index);
  Redraw();
}

void CliView::SetPaneText(int index, const std::string& text) {
  if (index >= 0 && index < static_cast<int>(m_panes.size())) m_panes[index] = text;
  Redraw();
}

void CliView::ShowProgress(bool visible) {
  m_bar = visible;
  Redraw();
}

void CliView::SetProgressRange(int64_t, int64_t maximum) {
  m_max = maximum;
  Redraw();
}

void CliView::SetProgressPosition(int64_t position) {
  m_pos = position;
  Redraw();
}

void CliView::Redraw() {
  if (!m_progress) return;
  std::string line;
  for (const auto& pane : m_panes)
    line += pane;
  if (m_bar && m_max > 0) line += " " + std::to_string(m_pos) + "/" + std::to_string(m_max);
  std::cerr << "\r\033[K" << line << std::flush;
  m_line_shown = true;
}

void CliView::ClearProgressLine() {
  if (!m_line_shown) return;
  std::cerr << "\r\033[K" << std::flush;
  m_line_shown = false;
}

}  // namespace quelvane
