// Sorts 1,000,000 rows by name, size and modification time and reports the time of each sort and
// the memory the rows take. Usage: bench_sort [rows]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "platform/text.h"
#include "results/result_list.h"

using namespace quelvane;

namespace {

long PeakRssMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

long CurrentRssMb() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  long pages = 0, resident = 0;
  if (f && std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
  if (f) std::fclose(f);
  return resident * 4096 / (1024 * 1024);
}

std::string TimeText(std::mt19937_64& rng) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "20%02d-%02d-%02d %02d:%02d:%02d",
                static_cast<int>(rng() % 25), static_cast<int>(rng() % 12 + 1),
                static_cast<int>(rng() % 28 + 1), static_cast<int>(rng() % 24),
                static_cast<int>(rng() % 60), static_cast<int>(rng() % 60));
  return buffer;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  std::mt19937_64 rng(42);
  const char* words[] = {"holiday", "照片", "report", "视频", "IMG", "track", "文档", "scan"};
  long before = CurrentRssMb();
  ResultList list;
  {
    // Rows arrive in batches, as a find delivers them.
    std::vector<RowData> batch;
    for (int i = 0; i < rows; ++i) {
      RowData row;
      uint64_t bytes = rng() % (1ull << 32);
      std::string name =
          std::string(words[rng() % 8]) + "_" + std::to_string(rng() % 100000) + ".mp4";
      std::string path = "/home/user/media/folder" + std::to_string(i % 997) + "/sub/";
      path += name;
      while (path.size() < 60)
        path.insert(path.begin() + 6, 'x');
      row.cells[ColSeq] = std::to_string(i + 1);
      row.cells[ColName] = name;
      row.cells[ColPath] = path;
      row.cells[ColSize] = FormatSizeText(bytes);
      row.cells[ColCreated] = TimeText(rng);
      row.cells[ColModified] = TimeText(rng);
      row.facts = {bytes, 2049, static_cast<uint64_t>(i)};
      batch.push_back(std::move(row));
      if (batch.size() == 5000) {
        list.AppendRows(std::move(batch));
        batch.clear();
      }
    }
    list.AppendRows(std::move(batch));
  }
  long after = CurrentRssMb();
  std::printf("rows: %d, memory of the rows: %ld MB (RSS now %ld MB)\n", rows, after - before,
              after);
  struct {
    const char* what;
    int column;
    int kind;
  } sorts[] = {{"ColName (text, GB18030 order)", ColName, ByText},
               {"ColSize (byte count)", ColSize, ByNumber},
               {"ColModified (date and time)", ColModified, ByDateTime}};
  for (const auto& s : sorts) {
    for (bool ascending : {true, false}) {
      auto t0 = std::chrono::steady_clock::now();
      list.SortByColumn(s.column, s.kind, ascending);
      double ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      std::printf("sort %-32s %-10s %8.1f ms\n", s.what, ascending ? "ascending" : "descending",
                  ms);
    }
  }
  std::printf("peak RSS: %ld MB\n", PeakRssMb());
  return 0;
}
