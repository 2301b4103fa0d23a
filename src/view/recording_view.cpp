#include "view/recording_view.h"

namespace quelvane {
namespace {

std::string Join(std::initializer_list<std::string> fields) {
  std::string line;
  bool first = true;
  for (const auto& f : fields) {
    if (!first) line += '|';
    line += f;
    first = false;
  }
  return line;
}

std::string Flag(bool on) {
  return on ? "1" : "0";
}

}  // namespace

std::vector<std::string> RecordingView::Messages() const {
  std::vector<std::string> out;
  for (const auto& line : log) {
    if (line.rfind("message|", 0) != 0) continue;
    // message|flags|caption|text
    size_t a = line.find('|', 8);
    size_t b = line.find('|', a + 1);
    out.push_back(line.substr(b + 1));
  }
  return out;
}

std::vector<std::string> RecordingView::LinesStartingWith(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& line : log) {
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  }
  return out;
}

Answer RecordingView::ShowMessage(int flags, const std::string& text, const std::string& caption) {
  log.push_back(Join({"message", std::to_string(flags), caption, text}));
  if (message_answers.empty()) return Answer::Ok;
  Answer a = message_answers.front();
  message_answers.pop_front();
  return a;
}

void RecordingView::SetButtonCaption(const std::string& button, const std::string& caption) {
  log.push_back(Join({"button-caption", button, caption}));
  captions[button] = caption;
}

void RecordingView::SetButtonEnabled(const std::string& button, bool on) {
  log.push_back(Join({"button-enabled", button, Flag(on)}));
  enabled[button] = on;
}

void RecordingView::SetCheckBox(const std::string& name, bool checked) {
  log.push_back(Join({"check", name, Flag(checked)}));
  checks[name] = checked;
}

std::string RecordingView::EditText(const std::string& name) {
  auto it = edits.find(name);
  return it == edits.end() ? std::string() : it->second;
}

void RecordingView::SetEditText(const std::string& name, const std::string& text) {
  log.push_back(Join({"edit", name, text}));
  edits[name] = text;
}

void RecordingView::SetSummary(const std::string& text) {
  log.push_back(Join({"summary", text}));
  summary = text;
}

void RecordingView::RemoveAllPanes() {
  log.push_back("panes-clear");
  panes.clear();
}

void RecordingView::AddPane(const std::string& text, int width, PaneStyle style) {
  log.push_back(Join({"pane-add", text, std::to_string(width),
                      style == PaneStyle::NoBorder ? "noborder" : "border"}));
  panes.push_back(text);
}

void RecordingView::RemovePane(int index) {
  log.push_back(Join({"pane-remove", std::to_string(index)}));
  if (index >= 0 && index < static_cast<int>(panes.size())) panes.erase(panes.begin() + index);
}

void RecordingView::SetPaneWidth(int index, int width) {
  log.push_back(Join({"pane-width", std::to_string(index), std::to_string(width)}));
}

void RecordingView::SetPaneText(int index, const std::string& text) {
  log.push_back(Join({"pane-text", std::to_string(index), text}));
  if (index >= 0 && index < static_cast<int>(panes.size())) panes[index] = text;
}

void RecordingView::ShowProgress(bool visible) {
  log.push_back(Join({"progress-show", Flag(visible)}));
  progress_visible = visible;
}

void RecordingView::PlaceProgressOverPane(int pane) {
  log.push_back(Join({"progress-over", std::to_string(pane)}));
}

void RecordingView::SetProgressRange(int64_t minimum, int64_t maximum) {
  log.push_back(Join({"progress-range", std::to_string(minimum), std::to_string(maximum)}));
  progress_min = minimum;
  progress_max = maximum;
}

void RecordingView::SetProgressPosition(int64_t position) {
  if (record_progress_positions) log.push_back(Join({"progress-pos", std::to_string(position)}));
  progress_pos = position;
}

std::optional<std::string> RecordingView::PickFolder(const std::string& title,
                                                     const std::string& /*start*/) {
  log.push_back(Join({"pick-folder", title}));
  if (folder_answers.empty()) return std::nullopt;
  auto a = folder_answers.front();
  folder_answers.pop_front();
  return a;
}

std::optional<SaveChoice> RecordingView::AskSaveName(const std::vector<std::string>& filters) {
  std::string joined;
  for (const auto& f : filters)
    joined += (joined.empty() ? "" : ";") + f;
  log.push_back(Join({"ask-save", joined}));
  if (save_answers.empty()) return std::nullopt;
  auto a = save_answers.front();
  save_answers.pop_front();
  return a;
}

void RecordingView::SetClipboardText(const std::string& text) {
  log.push_back(Join({"clipboard", text}));
  clipboard = text;
}

bool RecordingView::OpenPath(const std::string& path) {
  log.push_back(Join({"open", path}));
  return open_result;
}

bool RecordingView::RevealInFileManager(const std::string& path) {
  log.push_back(Join({"reveal", path}));
  return reveal_result;
}

}  // namespace quelvane
