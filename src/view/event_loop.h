#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace quelvane {

// Hands work from worker threads to the thread that owns the result list and the view.
// The Qt front end implements it with queued invocations; the CLI and the tests use EventLoop.
class Dispatcher {
 public:
  virtual ~Dispatcher() = default;
  // Runs fn later on the owning thread. Safe to call from any thread.
  virtual void Post(std::function<void()> fn) = 0;
};

// A plain queue drained by the owning thread.
class EventLoop : public Dispatcher {
 public:
  void Post(std::function<void()> fn) override;
  // Runs queued work until done() is true (checked after every item and before waiting).
  void RunUntil(const std::function<bool()>& done);
  // Runs what is queued now without waiting; returns how many items ran.
  int RunPending();

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::deque<std::function<void()>> m_queue;
};

}  // namespace quelvane
