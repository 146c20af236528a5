#pragma once
// The scan workers: one detached thread per file, at most as many running as the worker-slot
// limiter allows, results handed back through futures that are polled every millisecond. A
// worker that has not answered after the time limit is given up ("Future wait timed out after
// 10 seconds"): its slot is given back for it and its result counts as missing, so one hanging
// file never hangs the scan. The airport scan uses the same pool.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <exception>
#include <future>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "core/log.h"
#include "core/run_flags.h"
#include "core/worker_slots.h"

inline constexpr std::chrono::milliseconds kScanWorkerTimeout{10000};

struct ScanPoolOutcome {
  std::size_t timedOut = 0;  // workers given up after the time limit
  std::size_t failed = 0;    // workers that threw or could not be started
  bool stopped = false;      // a stop or quit request ended the launching early
};

// Runs job(i) for i = 0 .. count-1 and returns the results in index order (nullopt for a
// worker that failed, timed out or was not started because of a stop request). The job runs on
// detached threads that may outlive this call: it must own everything it uses (copy or share
// it), never refer to the caller's locals.
template <typename Result, typename Job>
std::vector<std::optional<Result>> runScanWorkers(std::size_t count, Job job, ScanPoolOutcome& outcome,
                                                  std::chrono::milliseconds timeout = kScanWorkerTimeout,
                                                  std::string_view what = "scan worker") {
  using Clock = std::chrono::steady_clock;
  struct Task {
    std::promise<Result> promise;
    std::atomic<bool> holdsSlot{true};
  };
  struct Pending {
    std::size_t index;
    std::shared_ptr<Task> task;
    std::future<Result> future;
    Clock::time_point started;
  };

  std::vector<std::optional<Result>> results(count);
  std::deque<Pending> pending;
  const auto stopping = [] { return g_stopRequested.load() || g_quitRequested.load(); };
  const auto giveBackSlot = [](Task& task) {
    if (task.holdsSlot.exchange(false)) releaseWorkerSlot();
  };

  // Takes finished results off the front; with wait, polls the front for one millisecond and
  // gives it up once it has run past the limit.
  const auto serviceFront = [&](bool wait) {
    while (!pending.empty()) {
      Pending& front = pending.front();
      const auto status = front.future.wait_for(wait ? std::chrono::milliseconds(1) : std::chrono::milliseconds(0));
      if (status == std::future_status::ready) {
        try {
          results[front.index] = front.future.get();
        } catch (const std::exception& e) {
          ++outcome.failed;
          logArrowLine(fmt::format("{} exception: {}", what, e.what()));
        }
        pending.pop_front();
        wait = false;
        continue;
      }
      if (Clock::now() - front.started >= timeout) {
        logArrowLine(fmt::format("Future wait timed out after {} seconds", timeout.count() / 1000));
        giveBackSlot(*front.task);
        ++outcome.timedOut;
        pending.pop_front();
        continue;
      }
      return;
    }
  };

  for (std::size_t i = 0; i < count; ++i) {
    bool launched = false;
    while (!launched) {
      if (stopping()) {
        outcome.stopped = true;
        break;
      }
      serviceFront(false);
      if (runningWorkers() < maxWorkerSlots()) {
        if (!acquireWorkerSlot()) {
          outcome.stopped = true;
          break;
        }
        auto task = std::make_shared<Task>();
        std::future<Result> future = task->promise.get_future();
        try {
          std::thread([task, job, i] {
            std::optional<Result> result;
            std::exception_ptr error;
            try {
              result.emplace(job(i));
            } catch (...) {
              error = std::current_exception();
            }
            // The slot is free before the result is seen, so the next launch never waits for it.
            if (task->holdsSlot.exchange(false)) releaseWorkerSlot();
            if (error) {
              task->promise.set_exception(error);
            } else {
              task->promise.set_value(std::move(*result));
            }
          }).detach();
          pending.push_back(Pending{i, std::move(task), std::move(future), Clock::now()});
        } catch (const std::system_error& e) {
          giveBackSlot(*task);
          ++outcome.failed;
          logArrowLine(fmt::format("{} could not be started: {}", what, e.what()));
        }
        launched = true;
      } else if (!pending.empty()) {
        serviceFront(true);
      } else {
        // Every slot is held by someone else's worker.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    if (outcome.stopped) break;
  }
  while (!pending.empty()) {
    if (stopping()) {
      outcome.stopped = true;
      for (Pending& p : pending) giveBackSlot(*p.task);
      break;
    }
    serviceFront(true);
  }
  return results;
}
