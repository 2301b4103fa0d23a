#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quelvane {

// Worker threads over one first-in first-out queue of task packets. Started once when the
// program starts and shared by every duplicate pass.
//
// States: 0 not started or stopped, 1 running, 2 stopping. Start works only from 0; Post and
// Stop only while running. Stop lets the workers finish every packet posted before it, in
// order, then joins them and returns to 0. Safe to call from any thread, except Stop from one
// of the pool's own workers (that would wait for itself; it fails instead).
class HashWorkerPool {
 public:
  // One packet: the routine with the values it runs on, bound together.
  using Task = std::function<void()>;

  enum State : int { kStopped = 0, kRunning = 1, kStopping = 2 };

  HashWorkerPool() = default;
  ~HashWorkerPool();  // stops (draining the queue) when still running
  HashWorkerPool(const HashWorkerPool&) = delete;
  HashWorkerPool& operator=(const HashWorkerPool&) = delete;

  // A thread count of 0 or less means 10.
  bool Start(int thread_count);
  bool Post(Task task);
  bool Stop();

  int State() const;
  int ThreadCount() const;
  // True on one of this pool's worker threads.
  bool OnWorkerThread() const;

  // One worker per core (at least one).
  static int DefaultThreadCount();

 private:
  void WorkerLoop();

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<Task> m_queue;
  int m_state = kStopped;
  std::vector<std::thread> m_threads;
  int m_thread_count = 0;  // threads started and not yet joined to a finished Stop
  // Serialises Start and Stop against each other, so a Stop never joins a half-made pool.
  std::mutex m_lifecycle;
};

}  // namespace quelvane
