#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "dupes/hash_worker_pool.h"

namespace quelvane {
namespace {

TEST(DupesPool, StateMachine) {
  HashWorkerPool pool;
  EXPECT_EQ(pool.State(), HashWorkerPool::kStopped);
  EXPECT_FALSE(pool.Post([] {}));
  EXPECT_FALSE(pool.Stop());

  ASSERT_TRUE(pool.Start(3));
  EXPECT_EQ(pool.State(), HashWorkerPool::kRunning);
  EXPECT_EQ(pool.ThreadCount(), 3);
  EXPECT_FALSE(pool.Start(2));  // a second Start fails and changes nothing
  EXPECT_EQ(pool.ThreadCount(), 3);
  EXPECT_FALSE(pool.Post({}));  // an empty packet is refused

  EXPECT_TRUE(pool.Stop());
  EXPECT_EQ(pool.State(), HashWorkerPool::kStopped);
  EXPECT_EQ(pool.ThreadCount(), 0);
  EXPECT_FALSE(pool.Stop());
  EXPECT_FALSE(pool.Post([] {}));

  // Stopped is not-started again: it may start anew.
  ASSERT_TRUE(pool.Start(1));
  EXPECT_TRUE(pool.Stop());
}

TEST(DupesPool, ZeroOrFewerThreadsMeansTen) {
  for (int count : {0, -5}) {
    HashWorkerPool pool;
    ASSERT_TRUE(pool.Start(count));
    EXPECT_EQ(pool.ThreadCount(), 10);
    // All ten really run: ten packets that wait for each other all get in.
    std::atomic<int> inside{0};
    for (int i = 0; i < 10; ++i) {
      ASSERT_TRUE(pool.Post([&inside] {
        ++inside;
        while (inside.load() < 10)
          std::this_thread::yield();
      }));
    }
    EXPECT_TRUE(pool.Stop());
    EXPECT_EQ(inside.load(), 10);
  }
  EXPECT_GE(HashWorkerPool::DefaultThreadCount(), 1);
}

TEST(DupesPool, OneWorkerRunsPacketsInPostingOrderAndStopDrainsThem) {
  HashWorkerPool pool;
  ASSERT_TRUE(pool.Start(1));
  std::vector<int> order;  // only the single worker writes it before Stop returns
  std::atomic<bool> release{false};
  ASSERT_TRUE(pool.Post([&release] {
    while (!release.load())
      std::this_thread::yield();
  }));
  for (int i = 0; i < 100; ++i)
    ASSERT_TRUE(pool.Post([&order, i] { order.push_back(i); }));
  std::thread stopper([&pool] { EXPECT_TRUE(pool.Stop()); });
  // While stopping, nothing new is taken in; what was posted before still runs.
  while (pool.State() != HashWorkerPool::kStopping)
    std::this_thread::yield();
  EXPECT_FALSE(pool.Post([&order] { order.push_back(-1); }));
  release = true;
  stopper.join();
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(order[static_cast<size_t>(i)], i);
}

TEST(DupesPool, WorkersMayPostAndMayNotStopTheirOwnPool) {
  HashWorkerPool pool;
  ASSERT_TRUE(pool.Start(2));
  std::atomic<int> ran{0};
  std::atomic<bool> stop_refused{false};
  ASSERT_TRUE(pool.Post([&] {
    stop_refused = !pool.Stop();
    pool.Post([&ran] { ++ran; });
    ++ran;
  }));
  // A throwing packet leaves the worker alive for the next.
  ASSERT_TRUE(pool.Post([] { throw 42; }));
  ASSERT_TRUE(pool.Post([&ran] { ++ran; }));
  while (ran.load() < 3)
    std::this_thread::yield();
  EXPECT_TRUE(stop_refused.load());
  EXPECT_TRUE(pool.Stop());
}

TEST(DupesPool, DestructorStopsARunningPoolAfterItsPackets) {
  std::atomic<int> ran{0};
  {
    HashWorkerPool pool;
    ASSERT_TRUE(pool.Start(2));
    for (int i = 0; i < 50; ++i) {
      pool.Post([&ran] {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        ++ran;
      });
    }
  }
  EXPECT_EQ(ran.load(), 50);
}

}  // namespace
}  // namespace quelvane
