// Export of a large result list to .xls and .xlsx: wall time, peak memory and file size.
//
//   bench_export [ROWS]     (default 100000)
//
// Each format runs in its own child process, so each peak resident set size is that format's
// own; the figure printed beside it is what the list alone holds before the export starts.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "fileops/workbook.h"
#include "platform/text.h"

namespace {

using quelvane::WorkbookSnapshot;

std::string Hex(std::mt19937_64& rng) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 32; ++i)
    out += kDigits[rng() % 16];
  return out;
}

std::string Time(std::mt19937_64& rng) {
  char text[32];
  std::snprintf(text, sizeof text, "20%02d-%02d-%02d %02d:%02d:%02d", int(rng() % 24),
                int(1 + rng() % 12), int(1 + rng() % 28), int(rng() % 24), int(rng() % 60),
                int(rng() % 60));
  return text;
}

// Rows as a find over a home folder gives them: Chinese and ASCII names, deep paths, sizes,
// times, and a duplicate pass that marked a third of the rows.
WorkbookSnapshot RealisticList(size_t rows) {
  static const char* kFolders[] = {"/home/用户/图片/2019/旅行", "/home/user/Videos/holiday",
                                   "/home/用户/文档/工作/报告", "/mnt/data/backup/photos/2021"};
  static const char* kStems[] = {"IMG_", "旅行照片_", "会议记录 ", "VID_2021", "scan-"};
  static const char* kExts[] = {".jpg", ".mp4", ".docx", ".png", ".pdf"};
  std::mt19937_64 rng(42);
  WorkbookSnapshot list;
  list.rows.reserve(rows);
  for (size_t i = 0; i < rows; ++i) {
    std::string name =
        std::string(kStems[rng() % 5]) + std::to_string(rng() % 1000000) + kExts[rng() % 5];
    std::string path =
        std::string(kFolders[rng() % 4]) + "/" + std::to_string(i % 300) + "/" + name;
    std::string dup, md5;
    if (i % 3 == 0) {
      dup = "重复文件第" + std::to_string(i / 6 + 1) + "组";
      md5 = Hex(rng);
    } else {
      dup = "无";
    }
    list.rows.push_back({"", std::to_string(i + 1), name, path,
                         quelvane::FormatSizeText(rng() % (1ull << 32)), Time(rng), Time(rng), dup,
                         md5});
  }
  return list;
}

long PeakRssKb() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Resident set size right now, in KiB.
long CurrentRssKb() {
  long pages_total = 0, pages_resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  if (std::fscanf(statm, "%ld %ld", &pages_total, &pages_resident) != 2) pages_resident = 0;
  std::fclose(statm);
  return pages_resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double CpuSeconds() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs one export in a child process; returns false when it failed.
bool Measure(const WorkbookSnapshot& list, const std::string& path, long list_rss_kb) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return false;
  pid_t pid = fork();
  if (pid == 0) {
    auto start = std::chrono::steady_clock::now();
    double cpu_start = CpuSeconds();
    quelvane::WriteResult result = quelvane::WriteListToWorkbook(path, list);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char line[256];
    int n = std::snprintf(line, sizeof line, "%d %d %.3f %.3f %ld", result.ok, result.error,
                          seconds, CpuSeconds() - cpu_start, PeakRssKb());
    (void)!write(pipe_fds[1], line, static_cast<size_t>(n));
    _exit(0);
  }
  close(pipe_fds[1]);
  char line[256] = {};
  (void)!read(pipe_fds[0], line, sizeof line - 1);
  close(pipe_fds[0]);
  waitpid(pid, nullptr, 0);
  int ok = 0, error = 0;
  double seconds = 0, cpu = 0;
  long peak_kb = 0;
  if (std::sscanf(line, "%d %d %lf %lf %ld", &ok, &error, &seconds, &cpu, &peak_kb) != 5 || !ok) {
    std::printf("%-5s failed: %s\n", path.substr(path.rfind('.')).c_str(),
                quelvane::ExportFailureMessage(error).c_str());
    return false;
  }
  struct stat st {};
  stat(path.c_str(), &st);
  std::printf(
      "%-5s %zu rows  wall %.3f s  cpu %.3f s  peak RSS %.1f MiB (list alone %.1f MiB)  "
      "file %.1f MiB\n",
      path.substr(path.rfind('.')).c_str(), list.rows.size(), seconds, cpu, peak_kb / 1024.0,
      list_rss_kb / 1024.0, st.st_size / 1048576.0);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  size_t rows = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
  char tmpl[] = "/tmp/quelvane-bench-export-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 1;
  std::string dir = tmpl;
  WorkbookSnapshot list = RealisticList(rows);
  long list_rss = CurrentRssKb();
  bool ok = Measure(list, dir + "/list.xls", list_rss);
  ok = Measure(list, dir + "/list.xlsx", list_rss) && ok;
  std::filesystem::remove_all(dir);
  return ok ? 0 : 1;
}
