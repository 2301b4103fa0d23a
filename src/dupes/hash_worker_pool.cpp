#include "dupes/hash_worker_pool.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace quelvane {

namespace {
// The pool whose worker loop runs on this thread, if any.
thread_local const HashWorkerPool* t_worker_of = nullptr;
}  // namespace

HashWorkerPool::~HashWorkerPool() {
  Stop();
}

int HashWorkerPool::DefaultThreadCount() {
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

bool HashWorkerPool::Start(int thread_count) {
  std::lock_guard lifecycle(m_lifecycle);
  if (thread_count <= 0) thread_count = 10;
  {
    std::lock_guard lock(m_mutex);
    if (m_state != kStopped) return false;
  }
  // The state turns to running only once every thread exists, so a refused thread leaves no
  // packet behind in a queue that nobody would drain.
  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(thread_count));
  try {
    for (int i = 0; i < thread_count; ++i)
      threads.emplace_back([this] { WorkerLoop(); });
  } catch (const std::system_error&) {
    // The system refused a thread: undo the part that started and report failure.
    {
      std::lock_guard lock(m_mutex);
      m_state = kStopping;
    }
    m_wake.notify_all();
    for (std::thread& thread : threads)
      thread.join();
    std::lock_guard lock(m_mutex);
    m_state = kStopped;
    return false;
  }
  std::lock_guard lock(m_mutex);
  m_threads = std::move(threads);
  m_thread_count = thread_count;
  m_state = kRunning;
  return true;
}

bool HashWorkerPool::Post(Task task) {
  if (!task) return false;
  {
    std::lock_guard lock(m_mutex);
    if (m_state != kRunning) return false;
    m_queue.push_back(std::move(task));
  }
  m_wake.notify_one();
  return true;
}

bool HashWorkerPool::Stop() {
  if (OnWorkerThread()) return false;
  std::lock_guard lifecycle(m_lifecycle);
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(m_mutex);
    if (m_state != kRunning) return false;
    m_state = kStopping;
    threads = std::move(m_threads);
    m_threads.clear();
  }
  m_wake.notify_all();
  for (std::thread& thread : threads)
    thread.join();
  std::lock_guard lock(m_mutex);
  m_queue.clear();  // nothing is left: workers leave only on an empty queue
  m_state = kStopped;
  m_thread_count = 0;
  return true;
}

int HashWorkerPool::State() const {
  std::lock_guard lock(m_mutex);
  return m_state;
}

int HashWorkerPool::ThreadCount() const {
  std::lock_guard lock(m_mutex);
  return m_thread_count;
}

bool HashWorkerPool::OnWorkerThread() const {
  return t_worker_of == this;
}

void HashWorkerPool::WorkerLoop() {
  t_worker_of = this;
  for (;;) {
    Task task;
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [this] { return !m_queue.empty() || m_state == kStopping; });
      if (m_queue.empty()) return;  // stopping, and everything posted before it is done
      task = std::move(m_queue.front());
      m_queue.pop_front();
    }
    // A packet that throws must not take the worker down with it; the pass code ends its
    // own file on failure, so nothing is left waiting.
    try {
      task();
    } catch (...) {
    }
  }
}

}  // namespace quelvane
