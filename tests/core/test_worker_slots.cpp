#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/run_flags.h"
#include "core/worker_slots.h"
#include "support/test_support.h"

namespace {

class WorkerSlots : public ::testing::Test {
 protected:
  void TearDown() override {
    g_stopRequested = false;
    g_quitRequested = false;
    setMaxWorkerSlots(1);
  }
};

TEST_F(WorkerSlots, NeverMoreThanTheMaximumUnderContention) {
  setMaxWorkerSlots(4);
  constexpr int kThreads = 16, kRounds = 200;
  std::atomic<int> inside{0}, most{0}, done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int r = 0; r < kRounds; ++r) {
        WorkerSlotGuard slot;
        ASSERT_TRUE(slot.acquired());
        const int now = ++inside;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::yield();
        --inside;
        ++done;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(done.load(), kThreads * kRounds);
  EXPECT_LE(most.load(), 4);
  EXPECT_GE(most.load(), 1);
  EXPECT_EQ(runningWorkers(), 0u);
}

TEST_F(WorkerSlots, AWaiterGetsTheSlotThatIsGivenBack) {
  setMaxWorkerSlots(2);
  ASSERT_TRUE(acquireWorkerSlot());
  ASSERT_TRUE(acquireWorkerSlot());
  EXPECT_EQ(runningWorkers(), 2u);
  std::atomic<bool> got{false};
  std::thread waiter([&] { got = acquireWorkerSlot(); });
  // The waiter must still be waiting while both slots are held.
  EXPECT_FALSE(coretest::waitFor([&] { return got.load(); }, std::chrono::milliseconds(50)));
  releaseWorkerSlot();
  EXPECT_TRUE(coretest::waitFor([&] { return got.load(); }));
  waiter.join();
  EXPECT_EQ(runningWorkers(), 2u);
}

TEST_F(WorkerSlots, StopRequestEndsTheWait) {
  setMaxWorkerSlots(1);
  WorkerSlotGuard held;
  ASSERT_TRUE(held.acquired());
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = acquireWorkerSlot() ? 1 : 0; });
  g_stopRequested = true;
  EXPECT_TRUE(coretest::waitFor([&] { return result.load() != -1; }));
  waiter.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ(runningWorkers(), 1u);
  WorkerSlotGuard afterStop;
  EXPECT_FALSE(afterStop.acquired());
}

TEST_F(WorkerSlots, ResetForgetsSlotsOfTheEarlierRun) {
  setMaxWorkerSlots(1);
  auto early = std::make_unique<WorkerSlotGuard>();
  ASSERT_TRUE(early->acquired());
  setMaxWorkerSlots(1);  // a new run: count back to 0
  EXPECT_EQ(runningWorkers(), 0u);
  WorkerSlotGuard current;
  ASSERT_TRUE(current.acquired());
  early.reset();  // the old worker ends late; the current slot stays counted
  EXPECT_EQ(runningWorkers(), 1u);
  releaseWorkerSlot();
  releaseWorkerSlot();  // never below zero
  EXPECT_EQ(runningWorkers(), 0u);
}

TEST_F(WorkerSlots, ZeroMaximumStillAllowsOne) {
  setMaxWorkerSlots(0);
  EXPECT_EQ(maxWorkerSlots(), 1u);
  WorkerSlotGuard slot;
  EXPECT_TRUE(slot.acquired());
}

}  // namespace
