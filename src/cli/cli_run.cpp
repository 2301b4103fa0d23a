#include "cli/cli_run.h"

#include <unistd.h>

#include <fstream>
#include <iostream>

#include "cli/cli_actions.h"
#include "cli/cli_view.h"
#include "cli/output.h"
#include "dupes/duplicate_pass.h"
#include "fileops/export_command.h"
#include "fileops/workbook.h"
#include "platform/text.h"
#include "results/result_list.h"
#include "search/find_command.h"
#include "view/event_loop.h"

namespace quelvane {
namespace {

bool WriteList(const CliOptions& o, const ResultList& list, const std::string& summary) {
  auto write = [&](std::ostream& out) {
    if (o.format == "json") {
      WriteJson(out, list, summary, o.dupes);
    } else {
      WriteTsv(out, list);
    }
    out.flush();
    return static_cast<bool>(out);
  };
  if (o.output.empty()) return write(std::cout);
  std::ofstream file(o.output, std::ios::binary | std::ios::trunc);
  if (!file) {
    std::cerr << "quelvane-cli: cannot write " << o.output << "\n";
    return false;
  }
  return write(file);
}

}  // namespace

int RunCli(const CliOptions& o) {
  EventLoop loop;
  ResultList list;
  CliView view(!o.quiet && isatty(STDERR_FILENO), o.yes);
  view.SetEditText(kSearchDirEdit, o.dir);

  // Started once, before the find; it outlives every pass that uses it.
  HashWorkerPool pool;
  if (o.dupes) pool.Start(o.threads > 0 ? o.threads : HashWorkerPool::DefaultThreadCount());

  FindCommand find(list, view, loop);
  bool done = false;
  FindReport report;
  find.Run(
      SettingsFromOptions(o),
      [&](const FindReport& r) {
        report = r;
        FindDuplicateCandidates(list, view, loop, pool,
                                [&](const DuplicatePassReport&) { done = true; });
      },
      [&](const FindReport& r) {
        report = r;
        done = true;
      });
  loop.RunUntil([&] { return done; });
  view.ClearProgressLine();
  if (report.refused) return 2;

  int status = 0;
  if (!WriteList(o, list, view.LastInfo())) status = 1;
  if (!o.export_path.empty()) {
    WriteResult written = ExportListTo(o.export_path, list);
    if (!written.ok) {
      std::cerr << ExportFailureMessage(written.error) << "\n";
      status = 1;
    }
  }
  if (RunFileAction(o, list, view) != 0) status = 1;
  if (report.unreadable_dirs > 0) {
    std::cerr << "无法读取的目录：" << report.unreadable_dirs << "个。\n";
    status = 1;
  }
  return status;
}

}  // namespace quelvane
