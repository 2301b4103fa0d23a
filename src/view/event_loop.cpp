#include "view/event_loop.h"

namespace quelvane {

void EventLoop::Post(std::function<void()> fn) {
  {
    std::lock_guard lock(m_mutex);
    m_queue.push_back(std::move(fn));
  }
  m_cv.notify_one();
}

void EventLoop::RunUntil(const std::function<bool()>& done) {
  while (!done()) {
    std::function<void()> fn;
    {
      std::unique_lock lock(m_mutex);
      m_cv.wait(lock, [&] { return !m_queue.empty(); });
      fn = std::move(m_queue.front());
      m_queue.pop_front();
    }
    fn();
  }
}

int EventLoop::RunPending() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(m_mutex);
    batch.swap(m_queue);
  }
  for (auto& fn : batch)
    fn();
  return static_cast<int>(batch.size());
}

}  // namespace quelvane
