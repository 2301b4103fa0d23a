// Walks a tree with the file filter, as a find does, and writes one line per row to standard
// output; the elapsed time and the counts go to standard error.
//   walk_bench DIR [EXTENSIONS [READ_AHEAD]]
// EXTENSIONS as in the settings window (default "mp4"); READ_AHEAD the number of directories the
// walk may list ahead on its helper thread (default that of WalkOptions; 0: no helper thread).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <string>

#include "platform/dir_walker.h"
#include "results/result_list.h"
#include "search/file_filter.h"
#include "search/filter_settings.h"

namespace {

void WriteRow(const quelvane::RowData& row, std::string& out) {
  using namespace quelvane;
  for (const int column : {ColName, ColPath, ColSize, ColCreated, ColModified}) {
    out += row.cells[column];
    out += column == ColModified ? '\n' : '\t';
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quelvane;
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: walk_bench DIR [EXTENSIONS [READ_AHEAD]]\n");
    return 2;
  }
  FilterSettings settings;
  settings.ExtensionList = argc >= 3 ? argv[2] : "mp4";
  WalkOptions options;
  if (argc == 4) options.read_ahead = std::strtoul(argv[3], nullptr, 10);
  settings.SizeFilterMode = kFilterOff;
  settings.NameFilterMode = kFilterOff;

  const auto start = std::chrono::steady_clock::now();
  const FileFilter filter(settings);
  std::deque<RowData> rows;  // no reallocation while it grows
  const WalkStats stats = WalkDirectory(
      argv[1],
      [&](const WalkEntry& entry) {
        if (std::optional<RowData> row = filter.Examine(entry)) rows.push_back(std::move(*row));
      },
      {}, options);
  const auto walked = std::chrono::steady_clock::now();

  std::string out;
  for (const RowData& row : rows) {
    WriteRow(row, out);
    if (out.size() >= (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  const auto done = std::chrono::steady_clock::now();

  const auto ms = [](auto d) { return std::chrono::duration<double, std::milli>(d).count(); };
  std::fprintf(stderr,
               "examined %llu, rows %zu, unreadable directories %llu; walk+filter %.1f ms, "
               "output %.1f ms\n",
               static_cast<unsigned long long>(filter.ExaminedCount()), rows.size(),
               static_cast<unsigned long long>(stats.unreadable_dirs), ms(walked - start),
               ms(done - walked));
  return stats.unreadable_dirs == 0 ? 0 : 1;
}
