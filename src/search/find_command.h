#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "results/result_list.h"
#include "search/filter_settings.h"
#include "view/event_loop.h"
#include "view/view.h"

namespace quelvane {

struct FindReport {
  bool refused = false;  // a check stopped the find before the walk
  bool stopped = false;  // the walk was cancelled
  int rows = 0;
  uint64_t examined = 0;
  uint64_t unreadable_dirs = 0;
};

// The find button. Checks the inputs, walks the search directory on a worker thread over a
// snapshot of the filter settings, and appends the rows in batches on the owning thread.
class FindCommand {
 public:
  // Called on the owning thread once the walk has finished and ShowDuplicates is on; it must
  // start the duplicate pass, which then ends the find.
  using HandOff = std::function<void(const FindReport&)>;
  // Called on the owning thread when the find ends by itself (refused, or finished without the
  // duplicate pass).
  using Finished = std::function<void(const FindReport&)>;

  FindCommand(ResultList& list, View& view, Dispatcher& dispatcher);
  ~FindCommand();  // stops a running walk and waits for its thread
  FindCommand(const FindCommand&) = delete;
  FindCommand& operator=(const FindCommand&) = delete;

  // Does nothing while a find runs.
  void Run(const FilterSettings& settings, HandOff hand_off, Finished finished);
  bool Running() const { return m_running; }
  void Stop();

 private:
  struct Batch;
  void Deliver(Batch batch);
  void FinishWalk(const FindReport& report, bool show_duplicates);
  void Refuse(const std::string& message);

  ResultList& m_list;
  View& m_view;
  Dispatcher& m_dispatcher;
  HandOff m_hand_off;
  Finished m_finished;
  bool m_running = false;
  // Work posted to the owning thread checks this, so nothing runs once the command is gone.
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
  std::jthread m_worker;
};

// Texts of the find.
inline const std::string kFindCaption = "查找文件";
inline const std::string kFindingCaption = "正在查找";

}  // namespace quelvane
