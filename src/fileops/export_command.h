#pragma once
// "导出excel": the whole result list — every row in its current order, checked or not, every
// column — into a workbook named in the save dialog. The rows are copied on the owning thread
// and written on a worker, so the window stays responsive; the outcome comes back through the
// dispatcher.

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fileops/workbook.h"
#include "results/result_list.h"
#include "view/event_loop.h"
#include "view/view.h"

namespace quelvane {

inline const std::string kExportDoneMessage = "导出完成！";

// The save dialog's filters, in the order offered; the index picks the appended extension.
inline const std::vector<std::string> kExportFilters = {"*.xls", "*.xlsx"};

// The name to write: kept when it already ends in ".xls" or ".xlsx" (ASCII case ignored),
// otherwise with the chosen filter's extension appended (".xls" for an unknown index).
std::string WorkbookNameFor(const SaveChoice& choice);

// The nine texts of every row, in the list's current order.
WorkbookSnapshot TakeWorkbookSnapshot(const ResultList& list);

// Writes the list to path at once, on the calling thread (the command-line tool's --export).
// The format follows the name's ending; another ending fails with EINVAL (check IsWorkbookName
// first). Show a failure with ExportFailureMessage(result.error).
WriteResult ExportListTo(const std::string& path, const ResultList& list);

struct ExportOutcome {
  bool cancelled = false;  // the dialog was cancelled: nothing written, no message
  std::string path;        // the file written or attempted
  WriteResult result;
};

class ExportCommand {
 public:
  // The dispatcher must outlive the command; the view must outlive it too.
  ExportCommand(View& view, Dispatcher& dispatcher);
  // Stops a running export (its temporary file is removed) and waits for the worker.
  ~ExportCommand();
  ExportCommand(const ExportCommand&) = delete;
  ExportCommand& operator=(const ExportCommand&) = delete;

  // Runs the command from the owning thread. A cancelled dialog ends it at once: on_done gets
  // a cancelled outcome before this returns. Otherwise the export button is disabled, the rows
  // are copied and written on a worker; on the owning thread the button is enabled again,
  // "导出完成！" or "导出失败：…" is shown (information icon) and on_done is called. While
  // an export runs, further calls do nothing.
  void ExportToExcel(const ResultList& list,
                     std::function<void(const ExportOutcome&)> on_done = {});

  bool Busy() const;

 private:
  struct State;
  std::shared_ptr<State> m_state;
  Dispatcher& m_dispatcher;
  std::jthread m_worker;  // declared last: joined before the state goes
};

}  // namespace quelvane
