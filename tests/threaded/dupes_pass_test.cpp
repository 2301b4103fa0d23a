// The whole duplicate pass on real temporary trees, with the pool's threads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dupes/duplicate_pass.h"
#include "dupes/md5_hasher.h"
#include "platform/text.h"
#include "results/result_list.h"
#include "view/event_loop.h"
#include "view/recording_view.h"

#include "../support/fixture.h"

namespace quelvane {
namespace {

using namespace quelvane::testing;

namespace fs = std::filesystem;

constexpr uint64_t kMiB = 1024 * 1024;

using Groups = std::map<std::string, std::set<std::string>>;  // label -> names

class DuplicatePassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quelvane-dupes-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(m_dir, ignored);
  }

  std::string Write(const std::string& rel, const std::string& bytes) {
    const fs::path path = fs::path(m_dir) / rel;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path.string();
  }
  std::string At(const std::string& rel) const { return m_dir + "/" + rel; }

  // The rows a find would make: regular files in path order, with their facts.
  void List() {
    std::vector<std::string> paths;
    for (const auto& e : fs::recursive_directory_iterator(m_dir)) {
      if (e.is_regular_file(m_ignored) && !e.is_symlink(m_ignored)) paths.push_back(e.path());
    }
    std::sort(paths.begin(), paths.end());
    for (const std::string& p : paths) {
      struct stat st {};
      ASSERT_EQ(::stat(p.c_str(), &st), 0);
      RowData row;
      row.cells[ColName] = fs::path(p).filename().string();
      row.cells[ColPath] = p;
      row.cells[ColSize] = FormatSizeText(static_cast<uint64_t>(st.st_size));
      row.facts = FileFacts{static_cast<uint64_t>(st.st_size), static_cast<uint64_t>(st.st_dev),
                            static_cast<uint64_t>(st.st_ino)};
      m_list.AppendRow(row);
    }
  }

  DuplicatePassReport Run(int workers, DuplicatePassOptions options = {}) {
    HashWorkerPool pool;
    EXPECT_TRUE(pool.Start(workers));
    bool done = false;
    DuplicatePassReport report;
    options.on_finished = [&](const DuplicatePassReport& r) {
      report = r;
      done = true;
    };
    FindDuplicateCandidates(m_list, m_view, m_loop, pool, std::move(options));
    m_loop.RunUntil([&] { return done; });
    return report;
  }

  Groups GroupsOf() const {
    Groups groups;
    for (int r = 0; r < m_list.RowCount(); ++r) {
      const std::string mark = m_list.CellText(r, ColDupState);
      if (mark != kMarkNone) groups[mark].insert(m_list.CellText(r, ColName));
    }
    return groups;
  }

  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    for (int r = 0; r < m_list.RowCount(); ++r) {
      rows.push_back(m_list.CellText(r, ColSeq) + " " + m_list.CellText(r, ColName) + " " +
                     m_list.CellText(r, ColDupState) + " " + m_list.CellText(r, ColDigest));
    }
    return rows;
  }

  // The tree with every case at once.
  void MakeMixedTree() {
    const std::string same = Content(10000, 1);
    Write("a/one.mp4", same);
    Write("b/one copy.mp4", same);
    // All three read "1.45 KB"; the middle one is two bytes larger.
    const std::string kb = Content(1485, 2);
    Write("c/k1.jpg", kb);
    Write("c/k2.jpg", Content(1487, 3));
    Write("c/k3.jpg", kb);
    Write("d/diff1.txt", Content(3000, 4));
    Write("d/diff2.txt", Content(3000, 5));
    std::string last = Content(9000, 6);
    Write("e/last1.doc", last);
    last.back() = static_cast<char>(last.back() ^ 1);
    Write("e/last2.doc", last);
    Write("f/empty1.txt", "");
    Write("f/empty2.txt", "");
    const std::string five = Content(5 * kMiB, 7);
    Write("g/five1.mp4", five);
    Write("g/five2.mp4", five);
    const std::string more = Content(5 * kMiB + 1, 8);
    Write("g/more1.mp4", more);
    Write("g/more2.mp4", more);
    const std::string linked = Content(777, 9);
    Write("h/link1.mp3", linked);
    fs::create_hard_link(At("h/link1.mp3"), At("h/link2.mp3"));
    const std::string linked_copy = Content(888, 10);
    Write("i/orig.mp3", linked_copy);
    fs::create_hard_link(At("i/orig.mp3"), At("i/orig-link.mp3"));
    Write("i/plain copy.mp3", linked_copy);
    Write("j/lonely.txt", Content(4321, 11));
  }

  std::string m_dir;
  std::error_code m_ignored;
  ResultList m_list;
  RecordingView m_view;
  EventLoop m_loop;
};

std::set<std::set<std::string>> Sets(const Groups& groups) {
  std::set<std::set<std::string>> out;
  for (const auto& [label, names] : groups)
    out.insert(names);
  return out;
}

const std::set<std::set<std::string>> kMixedSets = {
    {"one.mp4", "one copy.mp4"}, {"k1.jpg", "k3.jpg"},       {"empty1.txt", "empty2.txt"},
    {"five1.mp4", "five2.mp4"},  {"more1.mp4", "more2.mp4"}, {"orig-link.mp3", "plain copy.mp3"},
};

TEST_F(DuplicatePassTest, FindsExactlyTheGroupsOfEqualContentWithOneAndFourWorkers) {
  MakeMixedTree();
  std::vector<std::string> first_rows;
  for (int workers : {1, 4}) {
    m_list.ClearRows();
    m_list.ClearCellColours();
    m_view = RecordingView();
    List();
    const DuplicatePassReport report = Run(workers);
    SCOPED_TRACE(std::string("workers ") + std::to_string(workers));

    EXPECT_EQ(Sets(GroupsOf()), kMixedSets);
    EXPECT_EQ(report.groups, 6);
    EXPECT_EQ(report.rows, 21);
    // Each link pair counts once; the lonely file, the larger 1.45 KB one and the link pair
    // without a copy take no part.
    EXPECT_EQ(report.same_file_rows, 2);
    EXPECT_EQ(report.candidates, 16);
    EXPECT_EQ(report.prefix_unique, 2);  // diff1, diff2
    EXPECT_EQ(report.unreadable, 0);
    EXPECT_EQ(report.hashed_in_full, 14);
    EXPECT_FALSE(report.cancelled);

    // Labels run 1..G from the top, rows with a digest above the rest, numbers in order.
    int expected_group = 0;
    std::string previous;
    bool past_digests = false;
    for (int r = 0; r < m_list.RowCount(); ++r) {
      EXPECT_EQ(m_list.CellText(r, ColSeq), std::to_string(r + 1));
      const std::string mark = m_list.CellText(r, ColDupState);
      const std::string digest = m_list.CellText(r, ColDigest);
      if (digest.empty()) past_digests = true;
      EXPECT_FALSE(past_digests && !digest.empty()) << "row " << r;
      if (mark != kMarkNone && mark != previous) {
        EXPECT_EQ(mark, std::string("重复文件第") + std::to_string(++expected_group) + "组");
      }
      previous = mark;
      if (!digest.empty()) {
        EXPECT_EQ(digest, Md5sumOf(m_list.CellText(r, ColPath))) << m_list.CellText(r, ColName);
      }
      for (int c = ColSeq; c <= ColDupState; ++c) {
        EXPECT_EQ(m_list.ColourOf(r, c).text, mark == kMarkNone ? kListTextColour : kColourRed);
      }
      EXPECT_EQ(m_list.ColourOf(r, ColDigest).text, kListTextColour);
    }
    EXPECT_EQ(expected_group, 6);

    // Whole-hashed files that match nothing keep their digest and "无"; a unique prefix is
    // never read on and has no digest.
    for (int r = 0; r < m_list.RowCount(); ++r) {
      const std::string name = m_list.CellText(r, ColName);
      if (name.starts_with("last")) {
        EXPECT_EQ(m_list.CellText(r, ColDupState), kMarkNone);
        EXPECT_EQ(m_list.CellText(r, ColDigest).size(), 32u);
      }
      if (name.starts_with("diff") || name == "lonely.txt" || name == "k2.jpg") {
        EXPECT_EQ(m_list.CellText(r, ColDigest), "") << name;
      }
      if (name.starts_with("empty")) {
        EXPECT_EQ(m_list.CellText(r, ColDigest), "d41d8cd98f00b204e9800998ecf8427e");
      }
    }
    // The row kept of a group is the first of its files in walk order.
    for (int r = 0; r < m_list.RowCount(); ++r) {
      if (m_list.CellText(r, ColName) == "one copy.mp4") ADD_FAILURE() << "copy above original";
      if (m_list.CellText(r, ColName) == "one.mp4") break;
    }

    EXPECT_EQ(m_view.summary, "共找到21项文件。其中发现重复文件：6组。");
    EXPECT_EQ(m_view.Messages(),
              std::vector<std::string>{"查找完成，共找到21项文件。其中发现重复文件：6组。"});
    EXPECT_TRUE(m_view.enabled[kFindButton]);
    EXPECT_EQ(m_view.captions[kFindButton], "查找文件");
    EXPECT_FALSE(m_list.RedrawLocked());

    if (first_rows.empty()) {
      first_rows = Rows();
    } else {
      EXPECT_EQ(Rows(), first_rows);  // the same list, row for row, whatever the workers
    }
  }
}

TEST_F(DuplicatePassTest, ProgressDisplayAppearsOnceAndEndsFull) {
  for (int i = 0; i < 40; ++i)
    Write(std::string("p/") + std::to_string(i), Content(5000, i % 20));
  List();
  Run(2);
  const std::vector<std::string>& log = m_view.log;
  // The display is set up once, before any position, then the closing lines follow.
  const std::vector<std::string> setup = {
      "panes-clear",           "pane-add|开始识别重复文件：|150|noborder",
      "pane-add||-1|noborder", "progress-show|1",
      "progress-over|1",       "progress-range|0|43"};
  ASSERT_GE(log.size(), setup.size());
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 6), setup);
  EXPECT_EQ(m_view.LinesStartingWith("panes-clear").size(), 1u);
  int64_t last = -1;
  for (const std::string& line : m_view.LinesStartingWith("progress-pos|")) {
    const int64_t pos = std::stoll(line.substr(13));
    EXPECT_GE(pos, last);  // never backwards
    last = pos;
  }
  EXPECT_EQ(last, 43);
  const std::vector<std::string> tail(log.end() - 7, log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "progress-range|0|43", "progress-pos|43", "pane-text|0|任务完成！",
                      "summary|共找到40项文件。其中发现重复文件：20组。",
                      "message|64|信息：|查找完成，共找到40项文件。其中发现重复文件：20组。",
                      "button-enabled|超级按钮1|1", "button-caption|超级按钮1|查找文件"}));
  EXPECT_EQ(m_view.panes, (std::vector<std::string>{"任务完成！", ""}));
}

TEST_F(DuplicatePassTest, WithoutCandidatesTheFindEndsAtOnce) {
  Write("a", Content(10, 1));
  Write("b", Content(11, 1));
  Write("c", Content(12, 1));
  List();
  bool finished = false;
  HashWorkerPool pool;
  ASSERT_TRUE(pool.Start(2));
  FindDuplicateCandidates(m_list, m_view, m_loop, pool, [&](const DuplicatePassReport& r) {
    finished = true;
    EXPECT_EQ(r.candidates, 0);
  });
  EXPECT_TRUE(finished);  // before returning, no event loop needed
  EXPECT_EQ(m_view.log, (std::vector<std::string>{
                            "summary|共找到3项文件。没有发现重复文件。",
                            "message|64|信息：|查找完成，共找到3项文件。没有发现重复文件。",
                            "button-enabled|超级按钮1|1", "button-caption|超级按钮1|查找文件"}));
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(m_list.CellText(r, ColDupState), kMarkNone);
    EXPECT_EQ(m_list.CellText(r, ColSeq), std::to_string(r + 1));
  }

  m_list.ClearRows();
  m_view = RecordingView();
  finished = false;
  FindDuplicateCandidates(m_list, m_view, m_loop, pool,
                          [&](const DuplicatePassReport&) { finished = true; });
  EXPECT_TRUE(finished);
  EXPECT_EQ(m_view.summary, "共找到0项文件。没有发现重复文件。");
}

TEST_F(DuplicatePassTest, FilesThatChangedAfterTheFindEndWithoutADigest) {
  const std::string bytes = Content(20000, 3);
  for (const char* name : {"keep1", "keep2", "gone", "cut", "fifo", "swapped"}) {
    Write(name, bytes);
  }
  Write("folder/a", bytes);
  Write("folder/b", bytes);
  List();
  fs::remove(At("gone"));
  fs::remove_all(At("folder"));  // the whole folder, both copies with it
  fs::resize_file(At("cut"), 10);
  fs::remove(At("fifo"));
  ASSERT_EQ(::mkfifo(At("fifo").c_str(), 0600), 0);
  Write("swapped.new", bytes);
  fs::rename(At("swapped.new"), At("swapped"));

  const DuplicatePassReport report = Run(2);
  EXPECT_EQ(report.candidates, 8);
  EXPECT_EQ(report.unreadable, 6);
  EXPECT_EQ(report.groups, 1);
  EXPECT_EQ(Sets(GroupsOf()), (std::set<std::set<std::string>>{{"keep1", "keep2"}}));
  for (int r = 0; r < m_list.RowCount(); ++r) {
    const std::string name = m_list.CellText(r, ColName);
    if (!name.starts_with("keep")) {
      EXPECT_EQ(m_list.CellText(r, ColDupState), kMarkNone) << name;
      EXPECT_EQ(m_list.CellText(r, ColDigest), "") << name;
    }
  }
  EXPECT_EQ(m_view.Messages(),
            std::vector<std::string>{"查找完成，共找到8项文件。其中发现重复文件：1组。"});
}

// Drops a file's pages from memory, so that reading it has to go to the disk.
void Evict(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << path;
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

TEST_F(DuplicatePassTest, ASpinningDiskIsReadOneFileAtATime) {
  for (int i = 0; i < 30; ++i) {
    Write(std::string("s/") + std::to_string(i), Content(300000, i % 10));
    Write(std::string("t/") + std::to_string(i), Content(50000, 100 + i % 5));
  }
  List();
  for (int r = 0; r < m_list.RowCount(); ++r)
    Evict(m_list.CellText(r, ColPath));
  DuplicatePassOptions options;
  options.device_spins = [](uint64_t) { return true; };
  const DuplicatePassReport report = Run(4, options);
  EXPECT_EQ(report.peak_tasks_per_spinning_disk, 1);
  EXPECT_EQ(report.groups, 15);
  EXPECT_EQ(report.hashed_in_full, 60);
  for (int r = 0; r < m_list.RowCount(); ++r) {
    EXPECT_EQ(m_list.CellText(r, ColDigest), Md5sumOf(m_list.CellText(r, ColPath)));
  }
}

TEST_F(DuplicatePassTest, WhatIsInMemoryIsHashedOnAllWorkersEvenOnASpinningDisk) {
  for (int i = 0; i < 30; ++i)
    Write(std::string("s/") + std::to_string(i), Content(300000, i % 10));
  List();
  DuplicatePassOptions options;
  options.device_spins = [](uint64_t) { return true; };
  const DuplicatePassReport report = Run(4, options);
  EXPECT_EQ(report.groups, 10);
  EXPECT_EQ(report.hashed_in_full, 30);
  EXPECT_LE(report.peak_tasks_per_spinning_disk, 1);
}

TEST_F(DuplicatePassTest, AStopEndsThePassQuietlyAndThePoolStopsCleanly) {
  for (int i = 0; i < 20; ++i)
    Write(std::string("z/") + std::to_string(i), Content(2 * kMiB, i % 2));
  List();
  std::stop_source stop;
  bool finished = false;
  DuplicatePassReport report;
  {
    HashWorkerPool pool;
    ASSERT_TRUE(pool.Start(2));
    DuplicatePassOptions options;
    options.stop = stop.get_token();
    options.on_finished = [&](const DuplicatePassReport& r) {
      report = r;
      finished = true;
    };
    FindDuplicateCandidates(m_list, m_view, m_loop, pool, std::move(options));
    // Closing the program: stop, then the pool; its workers are joined before it goes.
    stop.request_stop();
    EXPECT_TRUE(pool.Stop());
  }
  m_loop.RunUntil([&] { return finished; });
  EXPECT_TRUE(report.cancelled);
  EXPECT_EQ(report.candidates, 20);
  EXPECT_TRUE(m_view.Messages().empty());
  EXPECT_TRUE(m_view.LinesStartingWith("summary|").empty());
}

TEST_F(DuplicatePassTest, APoolThatStopsMidPassStillEndsEveryCandidate) {
  for (int i = 0; i < 20; ++i)
    Write(std::string("y/") + std::to_string(i), Content(1 * kMiB, i % 2));
  List();
  bool finished = false;
  DuplicatePassReport report;
  HashWorkerPool pool;
  ASSERT_TRUE(pool.Start(1));
  // The prefix steps wait behind this packet until the pool is stopping, so the whole-file
  // steps they lead to can no longer be posted.
  std::atomic<bool> release{false};
  ASSERT_TRUE(pool.Post([&release] {
    while (!release.load())
      std::this_thread::yield();
  }));
  DuplicatePassOptions options;
  options.device_spins = [](uint64_t) { return false; };
  options.on_finished = [&](const DuplicatePassReport& r) {
    report = r;
    finished = true;
  };
  FindDuplicateCandidates(m_list, m_view, m_loop, pool, std::move(options));
  std::thread stopper([&pool] { EXPECT_TRUE(pool.Stop()); });
  while (pool.State() != HashWorkerPool::kStopping)
    std::this_thread::yield();
  release = true;
  stopper.join();
  m_loop.RunUntil([&] { return finished; });
  EXPECT_EQ(report.candidates, 20);
  EXPECT_EQ(report.hashed_in_full, 0);
  EXPECT_EQ(report.unreadable, 20);
  EXPECT_TRUE(m_view.enabled[kFindButton]);
  for (int r = 0; r < m_list.RowCount(); ++r) {
    EXPECT_EQ(m_list.CellText(r, ColDupState), kMarkNone);
    EXPECT_EQ(m_list.CellText(r, ColDigest), "");
  }
}

}  // namespace
}  // namespace quelvane
