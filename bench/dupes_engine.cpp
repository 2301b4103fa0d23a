// Times the duplicate pass by itself: walks a tree, fills a result list with the files of the
// given extensions, runs the pass on a pool and prints what it took.
//   dupes_engine [-j THREADS] [--prefix BYTES] [--ext LIST] [--list-hashed FILE] [--rows] DIR
// --list-hashed writes the paths of the files that got a digest, NUL-separated (the input of
// the md5sum floor); --rows prints every row (group label, digest, path) to standard output.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "dupes/duplicate_pass.h"
#include "platform/dir_walker.h"
#include "platform/text.h"
#include "results/result_list.h"
#include "view/event_loop.h"
#include "view/recording_view.h"

namespace {

using namespace quelvane;

struct Args {
  int threads = 0;
  uint32_t prefix = 0;
  std::string ext = "mp4,jpg,txt,doc,mp3";
  std::string list_hashed;
  bool rows = false;
  bool no_lanes = false;
  std::string dir;
};

bool Parse(int argc, char** argv, Args& a) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if ((arg == "-j" || arg == "--threads") && has_value) {
      a.threads = std::atoi(argv[++i]);
    } else if (arg == "--prefix" && has_value) {
      a.prefix = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--ext" && has_value) {
      a.ext = argv[++i];
    } else if (arg == "--list-hashed" && has_value) {
      a.list_hashed = argv[++i];
    } else if (arg == "--no-lanes") {
      a.no_lanes = true;
    } else if (arg == "--rows") {
      a.rows = true;
    } else if (a.dir.empty() && !arg.starts_with("-")) {
      a.dir = arg;
    } else {
      return false;
    }
  }
  return !a.dir.empty();
}

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

void FillList(const Args& a, ResultList& list) {
  const std::vector<std::string> parts = SplitList(a.ext);
  const std::set<std::string> wanted(parts.begin(), parts.end());
  std::vector<RowData> rows;
  WalkDirectory(a.dir, [&](const WalkEntry& entry) {
    if (wanted.count(ExtensionOf(entry.Name())) == 0) return;
    const auto& st = entry.Stat();
    if (!st) return;
    RowData row;
    row.cells[ColName] = std::string(entry.Name());
    row.cells[ColPath] = std::string(entry.Path());
    row.cells[ColSize] = FormatSizeText(st->bytes);
    row.facts = FileFacts{st->bytes, st->device, st->inode};
    rows.push_back(std::move(row));
  });
  list.AppendRows(std::move(rows));
}

void WriteOutputs(const Args& a, const ResultList& list) {
  if (!a.list_hashed.empty()) {
    std::ofstream out(a.list_hashed, std::ios::binary);
    for (int r = 0; r < list.RowCount(); ++r) {
      if (list.CellView(r, ColDigest).empty()) continue;
      out << list.CellView(r, ColPath) << '\0';
    }
  }
  if (a.rows) {
    for (int r = 0; r < list.RowCount(); ++r) {
      std::printf("%s\t%s\t%s\n", list.CellText(r, ColDupState).c_str(),
                  list.CellText(r, ColDigest).c_str(), list.CellText(r, ColPath).c_str());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Args a;
  if (!Parse(argc, argv, a)) {
    std::fprintf(stderr,
                 "usage: dupes_engine [-j N] [--prefix BYTES] [--ext LIST] [--list-hashed FILE] "
                 "[--rows] DIR\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  HashWorkerPool pool;
  pool.Start(a.threads > 0 ? a.threads : HashWorkerPool::DefaultThreadCount());
  ResultList list;
  FillList(a, list);
  const double walk_ms = MsSince(start);

  RecordingView view;
  view.record_progress_positions = false;
  EventLoop loop;
  bool done = false;
  DuplicatePassReport report;
  DuplicatePassOptions options;
  options.prefix_bytes = a.prefix;
  if (a.no_lanes) options.device_spins = [](uint64_t) { return false; };
  options.on_finished = [&](const DuplicatePassReport& r) {
    report = r;
    done = true;
  };
  const auto pass_start = std::chrono::steady_clock::now();
  FindDuplicateCandidates(list, view, loop, pool, std::move(options));
  loop.RunUntil([&] { return done; });
  const double pass_ms = MsSince(pass_start);
  WriteOutputs(a, list);

  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::fprintf(
      stderr,
      "rows %lld  candidates %lld  groups %lld  whole %lld  prefix-only %lld  "
      "unreadable %lld  read %.1f MB\n"
      "walk %.0f ms  pass %.0f ms  total %.0f ms  peak RSS %.1f MB  threads %d  disk lane %d\n",
      static_cast<long long>(report.rows), static_cast<long long>(report.candidates),
      static_cast<long long>(report.groups), static_cast<long long>(report.hashed_in_full),
      static_cast<long long>(report.prefix_unique), static_cast<long long>(report.unreadable),
      report.bytes_read / 1e6, walk_ms, pass_ms, MsSince(start), usage.ru_maxrss / 1024.0,
      pool.ThreadCount(), report.peak_tasks_per_spinning_disk);
  return 0;
}
