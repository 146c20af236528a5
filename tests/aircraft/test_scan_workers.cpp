#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "aircraft/scan_workers.h"
#include "aircraft_test_support.h"
#include "core/run_flags.h"

namespace {

using aircrafttest::waitFor;

// A gate that jobs wait at until the test opens it; shared so that it outlives a given-up job.
struct Gate {
  std::mutex mutex;
  std::condition_variable cv;
  bool open = false;
  std::atomic<int> running{0};
  std::atomic<int> maxRunning{0};
  std::atomic<int> finished{0};

  void wait() {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return open; });
  }
  void release() {
    {
      std::lock_guard lock(mutex);
      open = true;
    }
    cv.notify_all();
  }
};

TEST(ScanWorkers, ResultsComeInOrderWithinTheSlotLimit) {
  setMaxWorkerSlots(3);
  auto gate = std::make_shared<Gate>();
  ScanPoolOutcome outcome;
  const auto results = runScanWorkers<int>(
      60,
      [gate](std::size_t i) {
        const int now = ++gate->running;
        int seen = gate->maxRunning.load();
        while (now > seen && !gate->maxRunning.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::yield();
        --gate->running;
        return static_cast<int>(i * i);
      },
      outcome);
  ASSERT_EQ(results.size(), 60u);
  for (std::size_t i = 0; i < results.size(); ++i) EXPECT_EQ(results[i], static_cast<int>(i * i));
  EXPECT_LE(gate->maxRunning.load(), 3);
  EXPECT_EQ(outcome.timedOut, 0u);
  EXPECT_TRUE(waitFor([] { return runningWorkers() == 0; }));
}

TEST(ScanWorkers, AHangingWorkerIsGivenUpAndItsSlotComesBack) {
  setMaxWorkerSlots(1);  // the hanging worker holds the only slot
  auto gate = std::make_shared<Gate>();
  ScanPoolOutcome outcome;
  const auto started = std::chrono::steady_clock::now();
  const auto results = runScanWorkers<int>(
      4,
      [gate](std::size_t i) {
        if (i == 1) {
          gate->wait();
          ++gate->finished;
        }
        return static_cast<int>(i);
      },
      outcome, std::chrono::milliseconds(50));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(outcome.timedOut, 1u);
  EXPECT_EQ(results[0], 0);
  EXPECT_FALSE(results[1].has_value());
  EXPECT_EQ(results[2], 2);
  EXPECT_EQ(results[3], 3);
  EXPECT_TRUE(waitFor([] { return runningWorkers() == 0; }));

  // When the given-up worker ends after all, it does not give its slot back a second time.
  ASSERT_TRUE(acquireWorkerSlot());
  gate->release();
  // The worker thread's copy of the job (and of the gate) goes when the thread has ended.
  ASSERT_TRUE(waitFor([&] { return gate.use_count() == 1; }));
  EXPECT_EQ(gate->finished.load(), 1);
  EXPECT_EQ(runningWorkers(), 1u);
  releaseWorkerSlot();
}

TEST(ScanWorkers, AStopRequestEndsTheLaunching) {
  setMaxWorkerSlots(2);
  g_stopRequested = true;
  ScanPoolOutcome outcome;
  const auto results = runScanWorkers<int>(10, [](std::size_t i) { return static_cast<int>(i); }, outcome);
  g_stopRequested = false;
  EXPECT_TRUE(outcome.stopped);
  EXPECT_TRUE(std::none_of(results.begin(), results.end(), [](const auto& r) { return r.has_value(); }));
}

TEST(ScanWorkers, AThrowingJobCountsAsFailed) {
  setMaxWorkerSlots(2);
  ScanPoolOutcome outcome;
  const auto results = runScanWorkers<int>(
      3,
      [](std::size_t i) -> int {
        if (i == 1) throw std::runtime_error("bad file");
        return 7;
      },
      outcome);
  EXPECT_EQ(outcome.failed, 1u);
  EXPECT_FALSE(results[1].has_value());
  EXPECT_EQ(results[2], 7);
}

}  // namespace
