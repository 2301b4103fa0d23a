#include "dupes/duplicate_pass.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dupes/duplicate_candidates.h"
#include "dupes/duplicate_grouper.h"
#include "dupes/file_hashing.h"
#include "platform/block_device.h"

namespace quelvane {

namespace {

constexpr int64_t kProgressIntervalNs = 50'000'000;  // about every 50 ms

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One candidate with what the workers learn about it. A file is worked on by one task at a
// time; the group counter and the pool's queue hand it from one task to the next.
struct PassFile {
  HashTarget target;
  uint32_t group = 0;
  int lane = -1;  // index of its spinning disk's lane; -1 when the disk does not spin
  PrefixHash prefix;
  bool has_digest = false;
  Md5Digest digest{};
  HashFailure failure = HashFailure::None;
};

struct PassGroup {
  SizeGroup span;
  std::atomic<uint32_t> pending{0};  // prefix tasks not yet ended
};

// One step of work on one file.
struct Step {
  uint32_t file = 0;
  bool whole = false;    // false: the prefix; true: the rest of the file
  bool on_lane = false;  // runs in its disk's lane with ordinary reads
};

// A spinning disk reads one file at a time: a seek between two files costs more than hashing
// both on one core. A step of a file on such a disk first runs anywhere with cached-only
// reads (what is in memory needs no disk); only when bytes must come from the disk does it go
// to the disk's lane, where its steps run one after another.
struct Lane {
  std::mutex mutex;
  std::deque<Step> waiting;
  bool busy = false;
  std::atomic<int> running{0};
};

}  // namespace

class DuplicatePass : public std::enable_shared_from_this<DuplicatePass> {
 public:
  DuplicatePass(ResultList& list, View& view, Dispatcher& dispatcher, HashWorkerPool& pool,
                DuplicatePassOptions options)
      : m_list(list),
        m_view(view),
        m_dispatcher(dispatcher),
        m_pool(pool),
        m_options(std::move(options)) {
    if (m_options.prefix_bytes == 0) m_options.prefix_bytes = kDefaultPrefixBytes;
  }

  // On the owning thread. Returns false when there is nothing to hash.
  bool Prepare();
  void Launch();
  DuplicatePassReport MakeReport() const;

 private:
  void AssignLanes();
  void Submit(Step step);
  bool PostToPool(Step step);
  void LaneDone(int lane);
  void RunStep(Step step);
  void Abandon(Step step);
  // Both return true when the step has to go on in its disk's lane.
  bool RunPrefix(uint32_t index, ReadMode mode);
  bool RunWhole(uint32_t index, ReadMode mode);
  void PrefixDone(uint32_t index);
  void DecideGroup(uint32_t group);
  void EndFile(uint32_t index);
  void PostProgress();

  // Owning thread only.
  void ShowProgress();
  void EnsureDisplay();
  void Finish();

  ResultList& m_list;
  View& m_view;
  Dispatcher& m_dispatcher;
  HashWorkerPool& m_pool;
  DuplicatePassOptions m_options;

  std::vector<PassFile> m_files;
  std::unique_ptr<PassGroup[]> m_groups;
  size_t m_group_count = 0;
  std::vector<std::unique_ptr<Lane>> m_lanes;
  int64_t m_rows = 0;
  int64_t m_same_file_rows = 0;

  std::atomic<int64_t> m_ended{0};
  std::atomic<int64_t> m_last_progress_ns{0};
  std::atomic<uint64_t> m_bytes_read{0};
  std::atomic<int> m_peak_on_lane{0};

  // Owning thread only.
  bool m_display_shown = false;
  bool m_finished = false;
};

bool DuplicatePass::Prepare() {
  m_rows = m_list.RowCount();
  CandidateSet set = MarkDuplicateCandidates(m_list);
  m_same_file_rows = set.same_file_rows;
  if (set.files.empty()) return false;
  m_files.resize(set.files.size());
  for (size_t i = 0; i < set.files.size(); ++i)
    m_files[i].target = std::move(set.files[i]);
  m_group_count = set.groups.size();
  m_groups = std::make_unique<PassGroup[]>(m_group_count);
  for (size_t g = 0; g < m_group_count; ++g) {
    m_groups[g].span = set.groups[g];
    m_groups[g].pending.store(set.groups[g].count, std::memory_order_relaxed);
    for (uint32_t i = 0; i < set.groups[g].count; ++i) {
      m_files[set.groups[g].first + i].group = static_cast<uint32_t>(g);
    }
  }
  AssignLanes();
  return true;
}

void DuplicatePass::AssignLanes() {
  std::unordered_map<uint64_t, int> lane_of;  // device -> lane, -1 when it does not spin
  for (PassFile& file : m_files) {
    const uint64_t device = file.target.expected.identity.device;
    auto [it, added] = lane_of.try_emplace(device, -1);
    if (added) {
      const bool spins =
          m_options.device_spins ? m_options.device_spins(device) : IsRotationalDevice(device);
      if (spins) {
        it->second = static_cast<int>(m_lanes.size());
        m_lanes.push_back(std::make_unique<Lane>());
      }
    }
    file.lane = it->second;
  }
}

void DuplicatePass::Launch() {
  // The largest files first: their whole-file steps then start early, and the last steps
  // that keep one core busy while the others idle are small ones.
  for (size_t g = m_group_count; g-- > 0;) {
    const SizeGroup span = m_groups[g].span;
    for (uint32_t i = 0; i < span.count; ++i)
      Submit(Step{span.first + i, false});
  }
}

void DuplicatePass::Submit(Step step) {
  const int lane_index = m_files[step.file].lane;
  if (lane_index < 0 || !step.on_lane) {
    if (!PostToPool(step)) Abandon(step);
    return;
  }
  Lane& lane = *m_lanes[static_cast<size_t>(lane_index)];
  {
    std::lock_guard lock(lane.mutex);
    if (lane.busy) {
      lane.waiting.push_back(step);
      return;
    }
    lane.busy = true;
  }
  if (PostToPool(step)) return;
  Abandon(step);
  LaneDone(lane_index);
}

bool DuplicatePass::PostToPool(Step step) {
  return m_pool.Post([self = shared_from_this(), step] { self->RunStep(step); });
}

// Called when a lane's step has ended: the next waiting step goes to the pool.
void DuplicatePass::LaneDone(int lane_index) {
  Lane& lane = *m_lanes[static_cast<size_t>(lane_index)];
  for (;;) {
    Step next;
    {
      std::lock_guard lock(lane.mutex);
      if (lane.waiting.empty()) {
        lane.busy = false;
        return;
      }
      next = lane.waiting.front();
      lane.waiting.pop_front();
    }
    if (PostToPool(next)) return;
    // The pool is stopping. Abandoning may queue more steps here; the loop takes them too.
    Abandon(next);
  }
}

void DuplicatePass::RunStep(Step step) {
  const int lane_index = m_files[step.file].lane;
  Lane* lane = step.on_lane ? m_lanes[static_cast<size_t>(lane_index)].get() : nullptr;
  if (lane != nullptr) {
    const int now = lane->running.fetch_add(1) + 1;
    int peak = m_peak_on_lane.load();
    while (now > peak && !m_peak_on_lane.compare_exchange_weak(peak, now)) {
    }
  }
  const ReadMode mode =
      lane_index >= 0 && !step.on_lane ? ReadMode::CachedOnly : ReadMode::Blocking;
  const bool needs_disk = step.whole ? RunWhole(step.file, mode) : RunPrefix(step.file, mode);
  if (lane != nullptr) {
    lane->running.fetch_sub(1);
    LaneDone(lane_index);
  }
  if (needs_disk) Submit(Step{step.file, step.whole, true});
}

void DuplicatePass::Abandon(Step step) {
  m_files[step.file].failure = HashFailure::Cancelled;
  if (step.whole) {
    EndFile(step.file);
  } else {
    m_files[step.file].prefix.failure = HashFailure::Cancelled;
    PrefixDone(step.file);
  }
}

bool DuplicatePass::RunPrefix(uint32_t index, ReadMode mode) {
  PassFile& file = m_files[index];
  try {
    file.prefix = HashPrefix(file.target, m_options.prefix_bytes, m_options.stop, mode);
  } catch (...) {
    file.prefix = PrefixHash{};
    file.prefix.failure = HashFailure::ReadError;
  }
  m_bytes_read.fetch_add(file.prefix.bytes_read, std::memory_order_relaxed);
  if (file.prefix.failure == HashFailure::NeedsDisk) return true;  // read again from the disk
  PrefixDone(index);
  return false;
}

void DuplicatePass::PrefixDone(uint32_t index) {
  const uint32_t group = m_files[index].group;
  // The last prefix of a group decides for all of them; acq_rel hands their results over.
  if (m_groups[group].pending.fetch_sub(1, std::memory_order_acq_rel) == 1) DecideGroup(group);
}

void DuplicatePass::DecideGroup(uint32_t group) {
  const SizeGroup span = m_groups[group].span;
  std::vector<uint32_t> ok;
  ok.reserve(span.count);
  for (uint32_t i = span.first; i < span.first + span.count; ++i) {
    if (m_files[i].prefix.failure == HashFailure::None) {
      ok.push_back(i);
    } else {
      m_files[i].failure = m_files[i].prefix.failure;
      EndFile(i);
    }
  }
  std::stable_sort(ok.begin(), ok.end(), [this](uint32_t a, uint32_t b) {
    return m_files[a].prefix.digest < m_files[b].prefix.digest;
  });
  // Decide all before acting: a whole-file step posted now may reset its file's prefix at
  // once on another worker.
  std::vector<bool> shared(ok.size(), false);
  for (size_t k = 1; k < ok.size(); ++k) {
    if (m_files[ok[k - 1]].prefix.digest == m_files[ok[k]].prefix.digest) {
      shared[k - 1] = true;
      shared[k] = true;
    }
  }
  for (size_t k = 0; k < ok.size(); ++k) {
    PassFile& file = m_files[ok[k]];
    if (!shared[k]) {
      file.prefix.rest.reset();  // ends with "无", never read further
      EndFile(ok[k]);
    } else if (file.prefix.complete) {
      file.has_digest = true;
      file.digest = file.prefix.digest;
      EndFile(ok[k]);
    } else {
      Submit(Step{ok[k], true});
    }
  }
}

bool DuplicatePass::RunWhole(uint32_t index, ReadMode mode) {
  PassFile& file = m_files[index];
  WholeHash whole;
  try {
    whole = HashRest(file.target, file.prefix, m_options.stop, mode);
  } catch (...) {
    whole.failure = HashFailure::ReadError;
  }
  m_bytes_read.fetch_add(whole.bytes_read, std::memory_order_relaxed);
  if (whole.failure == HashFailure::NeedsDisk) return true;  // goes on from where it stopped
  file.prefix = PrefixHash{};                                // the running state is used up
  file.failure = whole.failure;
  if (whole.failure == HashFailure::None) {
    file.has_digest = true;
    file.digest = whole.digest;
  }
  EndFile(index);
  return false;
}

void DuplicatePass::EndFile(uint32_t /*index*/) {
  const int64_t total = static_cast<int64_t>(m_files.size());
  // acq_rel: the last one to end sees every file's result, and hands them to the owning
  // thread through the dispatcher.
  const int64_t ended = m_ended.fetch_add(1, std::memory_order_acq_rel) + 1;
  if (ended == total) {
    m_dispatcher.Post([self = shared_from_this()] { self->Finish(); });
    return;
  }
  const int64_t now = NowNs();
  int64_t last = m_last_progress_ns.load(std::memory_order_relaxed);
  if (ended == 1 || now - last >= kProgressIntervalNs) {
    if (ended == 1 || m_last_progress_ns.compare_exchange_strong(last, now)) PostProgress();
  }
}

void DuplicatePass::PostProgress() {
  m_dispatcher.Post([self = shared_from_this()] { self->ShowProgress(); });
}

void DuplicatePass::EnsureDisplay() {
  if (m_display_shown) return;
  m_display_shown = true;
  m_view.RemoveAllPanes();
  m_view.AddPane("开始识别重复文件：", 150, PaneStyle::NoBorder);
  m_view.AddPane("", kPaneToEnd, PaneStyle::NoBorder);
  m_view.ShowProgress(true);
  m_view.PlaceProgressOverPane(1);
  m_view.SetProgressRange(0, static_cast<int64_t>(m_files.size()) + 3);
}

void DuplicatePass::ShowProgress() {
  if (m_finished || m_options.stop.stop_requested()) return;
  EnsureDisplay();
  const int64_t ended = m_ended.load(std::memory_order_relaxed);
  m_view.SetProgressPosition(ended);
  if (m_options.on_progress) m_options.on_progress(ended, static_cast<int64_t>(m_files.size()));
}

DuplicatePassReport DuplicatePass::MakeReport() const {
  DuplicatePassReport report;
  report.rows = m_rows;
  report.candidates = static_cast<int64_t>(m_files.size());
  report.same_file_rows = m_same_file_rows;
  for (const PassFile& file : m_files) {
    if (file.has_digest) {
      ++report.hashed_in_full;
    } else if (file.failure == HashFailure::None) {
      ++report.prefix_unique;
    } else {
      ++report.unreadable;
    }
  }
  report.without_digest = report.prefix_unique + report.unreadable;
  report.bytes_read = m_bytes_read.load(std::memory_order_relaxed);
  report.peak_tasks_per_spinning_disk = m_peak_on_lane.load();
  return report;
}

void DuplicatePass::Finish() {
  m_finished = true;
  DuplicatePassReport report = MakeReport();
  if (m_options.stop.stop_requested()) {
    report.cancelled = true;
    if (m_options.on_finished) m_options.on_finished(report);
    return;
  }
  std::vector<RowDigest> digests;
  std::vector<RowId> no_digest;
  digests.reserve(static_cast<size_t>(report.hashed_in_full));
  for (const PassFile& file : m_files) {
    if (file.has_digest) {
      digests.push_back(RowDigest{file.target.id, DigestToText(file.digest)});
    } else {
      no_digest.push_back(file.target.id);
    }
  }
  const int groups = GroupDuplicates(m_list, digests, no_digest);
  report.groups = groups;
  EnsureDisplay();
  if (m_options.on_progress) m_options.on_progress(report.candidates, report.candidates);
  ShowGroupedFinish(m_list, m_view, report.candidates, groups);
  if (m_options.on_finished) m_options.on_finished(report);
}

void FindDuplicateCandidates(ResultList& list, View& view, Dispatcher& dispatcher,
                             HashWorkerPool& pool, DuplicatePassOptions options) {
  auto pass = std::make_shared<DuplicatePass>(list, view, dispatcher, pool, options);
  if (!pass->Prepare()) {
    FinishWithoutCandidates(list, view);
    if (options.on_finished) options.on_finished(pass->MakeReport());
    return;
  }
  pass->Launch();
}

void FindDuplicateCandidates(ResultList& list, View& view, Dispatcher& dispatcher,
                             HashWorkerPool& pool,
                             std::function<void(const DuplicatePassReport&)> on_finished,
                             std::stop_token stop) {
  DuplicatePassOptions options;
  options.on_finished = std::move(on_finished);
  options.stop = std::move(stop);
  FindDuplicateCandidates(list, view, dispatcher, pool, std::move(options));
}

}  // namespace quelvane
