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

// One candidate with what the workers learn about it. A file is worked on by one step at a
// time; the group counter and the pool's queue hand it from one step to the next.
struct PassFile {
  HashTarget target;
  uint32_t group = 0;
  int lane = -1;  // index of its spinning disk's lane; -1 when the disk does not spin
  PrefixHash prefix;
  std::optional<HashProgress> progress;  // a whole-file read that has to go on from the disk
  bool has_digest = false;
  Md5Digest digest{};
  HashFailure failure = HashFailure::None;
};

struct PassGroup {
  SizeGroup span;
  std::atomic<uint32_t> pending{0};  // prefix steps not yet ended
};

enum class StepKind : uint8_t {
  Folder,    // the first bytes of files of one folder
  Prefix,    // the first bytes of one file, from the disk
  Together,  // files whose first bytes matched, read whole side by side
  Rest,      // the rest of one file, after a side-by-side read found it was not in memory
};

struct Step {
  StepKind kind = StepKind::Prefix;
  uint32_t file = 0;                                   // Prefix and Rest
  std::shared_ptr<const std::vector<uint32_t>> files;  // Folder and Together
  bool on_lane = false;  // Prefix and Rest: runs in its disk's lane with ordinary reads

  static Step OnFile(StepKind kind, uint32_t file, bool on_lane) {
    Step step;
    step.kind = kind;
    step.file = file;
    step.on_lane = on_lane;
    return step;
  }
  static Step OnFiles(StepKind kind, std::shared_ptr<const std::vector<uint32_t>> files) {
    Step step;
    step.kind = kind;
    step.files = std::move(files);
    return step;
  }
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
  bool PostToPool(const Step& step);
  void LaneDone(int lane);
  int LaneOf(const Step& step) const;
  void RunStep(const Step& step);
  void Abandon(const Step& step);
  void RunFolder(const std::vector<uint32_t>& files);
  void RunPrefix(uint32_t index, bool on_lane, const DirectoryHandle* dir);
  void RunTogether(const std::vector<uint32_t>& files);
  void GoToDisk(const std::vector<uint32_t>& files);
  void RunRest(uint32_t index);
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

// Files of one folder at most per first-stage step.
constexpr size_t kFolderStepFiles = 64;

void DuplicatePass::Launch() {
  // The first stage goes in walk order, folder by folder: row identities grow in the order
  // the find appended the rows, and one open folder serves all its files.
  std::vector<uint32_t> order(m_files.size());
  for (uint32_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::sort(order.begin(), order.end(),
            [this](uint32_t a, uint32_t b) { return m_files[a].target.id < m_files[b].target.id; });
  auto folder_of = [this](uint32_t i) {
    const std::string_view path = m_files[i].target.path;
    return path.substr(0, path.rfind('/') + 1);  // with the slash; empty without one
  };
  auto batch = std::make_shared<std::vector<uint32_t>>();
  for (uint32_t i : order) {
    if (!batch->empty() &&
        (folder_of(i) != folder_of(batch->front()) || batch->size() == kFolderStepFiles)) {
      Submit(Step::OnFiles(StepKind::Folder, std::move(batch)));
      batch = std::make_shared<std::vector<uint32_t>>();
    }
    batch->push_back(i);
  }
  if (!batch->empty()) Submit(Step::OnFiles(StepKind::Folder, std::move(batch)));
}

// The lane a step waits in, or -1 when it goes to the pool at once.
int DuplicatePass::LaneOf(const Step& step) const {
  if (step.kind == StepKind::Folder || step.kind == StepKind::Together || !step.on_lane) {
    return -1;
  }
  return m_files[step.file].lane;
}

void DuplicatePass::Submit(Step step) {
  const int lane_index = LaneOf(step);
  if (lane_index < 0) {
    if (!PostToPool(step)) Abandon(step);
    return;
  }
  Lane& lane = *m_lanes[static_cast<size_t>(lane_index)];
  {
    std::lock_guard lock(lane.mutex);
    if (lane.busy) {
      lane.waiting.push_back(std::move(step));
      return;
    }
    lane.busy = true;
  }
  if (PostToPool(step)) return;
  Abandon(step);
  LaneDone(lane_index);
}

bool DuplicatePass::PostToPool(const Step& step) {
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
      next = std::move(lane.waiting.front());
      lane.waiting.pop_front();
    }
    if (PostToPool(next)) return;
    // The pool is stopping. Abandoning may queue more steps here; the loop takes them too.
    Abandon(next);
  }
}

void DuplicatePass::RunStep(const Step& step) {
  const int lane_index = LaneOf(step);
  Lane* lane = lane_index >= 0 ? m_lanes[static_cast<size_t>(lane_index)].get() : nullptr;
  if (lane != nullptr) {
    const int now = lane->running.fetch_add(1) + 1;
    int peak = m_peak_on_lane.load();
    while (now > peak && !m_peak_on_lane.compare_exchange_weak(peak, now)) {
    }
  }
  switch (step.kind) {
    case StepKind::Folder:
      RunFolder(*step.files);
      break;
    case StepKind::Prefix:
      RunPrefix(step.file, step.on_lane, nullptr);
      break;
    case StepKind::Together:
      RunTogether(*step.files);
      break;
    case StepKind::Rest:
      RunRest(step.file);
      break;
  }
  if (lane != nullptr) {
    lane->running.fetch_sub(1);
    LaneDone(lane_index);
  }
}

void DuplicatePass::Abandon(const Step& step) {
  switch (step.kind) {
    case StepKind::Folder:
      for (uint32_t i : *step.files) {
        m_files[i].prefix.failure = HashFailure::Cancelled;
        PrefixDone(i);
      }
      break;
    case StepKind::Prefix:
      m_files[step.file].prefix.failure = HashFailure::Cancelled;
      PrefixDone(step.file);
      break;
    case StepKind::Together:
      for (uint32_t i : *step.files) {
        m_files[i].failure = HashFailure::Cancelled;
        EndFile(i);
      }
      break;
    case StepKind::Rest:
      m_files[step.file].failure = HashFailure::Cancelled;
      EndFile(step.file);
      break;
  }
}

void DuplicatePass::RunFolder(const std::vector<uint32_t>& files) {
  // When the folder cannot be opened, each file is opened by its whole path (and fails).
  const DirectoryHandle dir(ParentFolderOf(m_files[files.front()].target.path));
  for (uint32_t i : files)
    RunPrefix(i, false, &dir);
}

void DuplicatePass::RunPrefix(uint32_t index, bool on_lane, const DirectoryHandle* dir) {
  PassFile& file = m_files[index];
  const ReadMode mode = file.lane >= 0 && !on_lane ? ReadMode::CachedOnly : ReadMode::Blocking;
  try {
    file.prefix = HashPrefix(file.target, m_options.prefix_bytes, m_options.stop, mode, dir);
  } catch (...) {
    file.prefix = PrefixHash{};
    file.prefix.failure = HashFailure::ReadError;
  }
  m_bytes_read.fetch_add(file.prefix.bytes_read, std::memory_order_relaxed);
  if (file.prefix.failure == HashFailure::NeedsDisk) {
    Submit(Step::OnFile(StepKind::Prefix, index, true));  // again, from the disk
    return;
  }
  PrefixDone(index);
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
    return m_files[a].prefix.key < m_files[b].prefix.key;
  });
  for (size_t first = 0; first < ok.size();) {
    size_t end = first + 1;
    while (end < ok.size() && m_files[ok[end]].prefix.key == m_files[ok[first]].prefix.key)
      ++end;
    if (end - first == 1) {
      EndFile(ok[first]);  // its first bytes match no other file: "无", never read further
    } else if (m_files[ok[first]].prefix.complete) {
      for (size_t k = first; k < end; ++k) {
        m_files[ok[k]].has_digest = true;
        m_files[ok[k]].digest = m_files[ok[k]].prefix.key;
        EndFile(ok[k]);
      }
    } else {
      for (size_t k = first; k < end; k += kMaxFilesTogether) {
        const size_t stop = std::min(end, k + kMaxFilesTogether);
        auto files =
            std::make_shared<const std::vector<uint32_t>>(ok.begin() + k, ok.begin() + stop);
        Submit(Step::OnFiles(StepKind::Together, std::move(files)));
      }
    }
    first = end;
  }
}

void DuplicatePass::RunTogether(const std::vector<uint32_t>& files) {
  std::vector<TogetherFile> io(files.size());
  std::vector<WholeHash> results(files.size());
  for (size_t k = 0; k < files.size(); ++k) {
    PassFile& file = m_files[files[k]];
    io[k] = TogetherFile{&file.target, file.lane >= 0, &file.progress, &results[k]};
  }
  try {
    HashTogether(io, m_options.stop);
  } catch (...) {
    for (WholeHash& r : results)
      r.failure = HashFailure::ReadError;
  }
  std::vector<uint32_t> from_disk;
  for (size_t k = 0; k < files.size(); ++k) {
    PassFile& file = m_files[files[k]];
    m_bytes_read.fetch_add(results[k].bytes_read, std::memory_order_relaxed);
    if (results[k].failure == HashFailure::NeedsDisk) {
      from_disk.push_back(files[k]);
      continue;
    }
    file.failure = results[k].failure;
    if (file.failure == HashFailure::None) {
      file.has_digest = true;
      file.digest = results[k].digest;
    }
    EndFile(files[k]);
  }
  if (!from_disk.empty()) GoToDisk(from_disk);
}

// Files of a side-by-side read that found bytes not in memory: each goes on alone from where
// it stopped, in its disk's lane, so that a spinning disk reads it straight through.
void DuplicatePass::GoToDisk(const std::vector<uint32_t>& files) {
  for (uint32_t i : files)
    Submit(Step::OnFile(StepKind::Rest, i, m_files[i].lane >= 0));
}

void DuplicatePass::RunRest(uint32_t index) {
  PassFile& file = m_files[index];
  WholeHash whole;
  try {
    if (!file.progress) file.progress.emplace();
    whole = HashRest(file.target, *file.progress, m_options.stop, ReadMode::Blocking);
  } catch (...) {
    whole.failure = HashFailure::ReadError;
  }
  file.progress.reset();
  m_bytes_read.fetch_add(whole.bytes_read, std::memory_order_relaxed);
  file.failure = whole.failure;
  if (whole.failure == HashFailure::None) {
    file.has_digest = true;
    file.digest = whole.digest;
  }
  EndFile(index);
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
