#include "app/run_timing.h"

#include <memory>
#include <mutex>
#include <thread>

namespace {

std::mutex g_hookMutex;
std::shared_ptr<const kvo::RunWaitHook> g_hook;  // under g_hookMutex; null: real sleeping

}  // namespace

void kvo::runWait(std::chrono::milliseconds duration) {
  std::shared_ptr<const RunWaitHook> hook;
  {
    std::lock_guard lock(g_hookMutex);
    hook = g_hook;
  }
  if (hook) {
    (*hook)(duration);  // called without the lock: a hook may wait for other threads
    return;
  }
  std::this_thread::sleep_until(std::chrono::steady_clock::now() + duration);
}

void kvo::setRunWaitHookForTests(RunWaitHook hook) {
  std::lock_guard lock(g_hookMutex);
  g_hook = hook ? std::make_shared<const RunWaitHook>(std::move(hook)) : nullptr;
}
