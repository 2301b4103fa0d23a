#include "fileops/export_command.h"

#include <utility>

#include "platform/text.h"

namespace quelvane {

struct ExportCommand::State {
  View* view = nullptr;
  bool busy = false;
  std::function<void(const ExportOutcome&)> on_done;

  void Finish(const ExportOutcome& outcome) {
    busy = false;
    view->SetButtonEnabled(kExportButton, true);
    view->ShowMessage(kMsgInfo, outcome.result.ok ? kExportDoneMessage
                                                  : ExportFailureMessage(outcome.result.error));
    // Moved out first: the callback may start the next export, which sets a new one.
    auto done = std::move(on_done);
    on_done = nullptr;
    if (done) done(outcome);
  }
};

std::string WorkbookNameFor(const SaveChoice& choice) {
  if (IsWorkbookName(choice.path)) return choice.path;
  return choice.path + (choice.filter_index == 1 ? ".xlsx" : ".xls");
}

WorkbookSnapshot TakeWorkbookSnapshot(const ResultList& list) {
  WorkbookSnapshot snapshot;
  snapshot.rows.resize(static_cast<size_t>(list.RowCount()));
  for (int r = 0; r < list.RowCount(); ++r)
    for (int c = 0; c < kColumnCount; ++c)
      snapshot.rows[static_cast<size_t>(r)][static_cast<size_t>(c)] = list.CellText(r, c);
  return snapshot;
}

WriteResult ExportListTo(const std::string& path, const ResultList& list) {
  return WriteListToWorkbook(path, TakeWorkbookSnapshot(list));
}

ExportCommand::ExportCommand(View& view, Dispatcher& dispatcher)
    : m_state(std::make_shared<State>()), m_dispatcher(dispatcher) {
  m_state->view = &view;
}

ExportCommand::~ExportCommand() = default;

bool ExportCommand::Busy() const {
  return m_state->busy;
}

void ExportCommand::ExportToExcel(const ResultList& list,
                                  std::function<void(const ExportOutcome&)> on_done) {
  if (m_state->busy) return;
  std::optional<SaveChoice> choice = m_state->view->AskSaveName(kExportFilters);
  if (!choice || choice->path.empty()) {
    ExportOutcome outcome;
    outcome.cancelled = true;
    if (on_done) on_done(outcome);
    return;
  }
  std::string path = WorkbookNameFor(*choice);
  m_state->busy = true;
  m_state->on_done = std::move(on_done);
  m_state->view->SetButtonEnabled(kExportButton, false);

  std::weak_ptr<State> state = m_state;
  Dispatcher* dispatcher = &m_dispatcher;
  // The previous worker has finished (busy was false), so this join returns at once.
  m_worker = std::jthread(
      [state, dispatcher, path, snapshot = TakeWorkbookSnapshot(list)](std::stop_token stop) {
        ExportOutcome outcome;
        outcome.path = path;
        outcome.result = WriteListToWorkbook(path, snapshot, stop);
        dispatcher->Post([state, outcome] {
          if (auto alive = state.lock()) alive->Finish(outcome);
        });
      });
}

}  // namespace quelvane
