#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>

#include "dupes/hash_worker_pool.h"
#include "results/result_list.h"
#include "view/event_loop.h"
#include "view/view.h"

namespace quelvane {

// What one duplicate pass did.
struct DuplicatePassReport {
  int64_t rows = 0;            // rows in the list
  int64_t candidates = 0;      // rows that took part ("加入识别")
  int64_t same_file_rows = 0;  // rows left out as another row's file (hard links)
  int64_t groups = 0;          // duplicate groups found
  int64_t hashed_in_full = 0;  // candidates read to their end: they carry a digest
  int64_t prefix_unique = 0;   // candidates whose first bytes matched no other: never read on
  int64_t unreadable = 0;      // candidates that ended without a digest for a file-system reason
  int64_t without_digest = 0;  // prefix_unique + unreadable
  uint64_t bytes_read = 0;     // every byte read for hashing
  // Most steps that read from one spinning disk at once: 1 when the disk had to be read, 0
  // when every byte came from memory or no candidate lay on such a disk.
  int peak_tasks_per_spinning_disk = 0;
  bool cancelled = false;  // a stop was requested: the list and the screen were left alone
};

struct DuplicatePassOptions {
  // Runs on the owning thread once the pass is over, after the final message.
  std::function<void(const DuplicatePassReport&)> on_finished;
  // Runs on the owning thread with the count of ended candidates and the candidate count,
  // at most about every 50 ms, and once more with ended == total at the end.
  std::function<void(int64_t ended, int64_t total)> on_progress;
  // Ends the pass early: every candidate not yet done ends at once without a digest, and
  // the pass then leaves the list and the screen as they are and calls on_finished with
  // cancelled set.
  std::stop_token stop;
  // Bytes hashed first from every candidate.
  uint32_t prefix_bytes = 0;  // 0: the default
  // Whether a device number belongs to a spinning disk (for tests); empty: ask the system.
  std::function<bool(uint64_t device)> device_spins;
};

// The duplicate hand-off of a find, on the owning thread: marks the candidates in the list,
// hands their hashing to the pool, and returns at once. Without candidates it finishes the
// find itself before returning. Later, through the dispatcher and on the owning thread, the
// progress display follows the ended candidates and the grouping closes the find.
//
// The workers first read the first bytes of every candidate, folder by folder; a file whose
// first bytes match no other file of its byte count ends there. The others are read whole,
// the files of one byte count and equal first bytes side by side, so that MD5 runs once per
// distinct content while the bytes of the rest are compared with it. Files on a spinning disk
// take what is in memory on any worker and read from the disk one file at a time.
//
// The pool must be running. The list, the view and the dispatcher must stay alive until
// on_finished has run, or until the pass was stopped and pool.Stop() has returned (the pass
// keeps its own state alive; no worker touches the list or the view).
void FindDuplicateCandidates(ResultList& list, View& view, Dispatcher& dispatcher,
                             HashWorkerPool& pool, DuplicatePassOptions options);

void FindDuplicateCandidates(ResultList& list, View& view, Dispatcher& dispatcher,
                             HashWorkerPool& pool,
                             std::function<void(const DuplicatePassReport&)> on_finished,
                             std::stop_token stop = {});

}  // namespace quelvane
