// The message queue of each thread and the calls of the message loop. A queue is made when a
// thread first needs one (its first GetMessageW, or the first message posted to one of its
// windows) and dropped when the thread ends.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/win32/canvas.h"
#include "platform/win32/testing.h"
#include "platform/win32/win32.h"
#include "platform/win32/window_object.h"

namespace kvo::win32impl {
namespace {

struct ThreadQueue {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<MSG> posted;  // in the order posted
  bool quitPosted = false;
  int quitCode = 0;
  std::uint64_t postCount = 0;  // messages ever posted: a waiter sees that one came
  std::uint64_t wakeCount = 0;  // bumped by wakeThread, so a waiter sees that it was woken
};

struct QueueRegistry {
  std::mutex mutex;
  std::unordered_map<std::thread::id, std::shared_ptr<ThreadQueue>> queues;
};

QueueRegistry& queueRegistry() {
  static QueueRegistry instance;
  return instance;
}

std::shared_ptr<ThreadQueue> queueOf(std::thread::id thread, bool create) {
  auto& r = queueRegistry();
  std::lock_guard lock(r.mutex);
  const auto found = r.queues.find(thread);
  if (found != r.queues.end()) {
    return found->second;
  }
  if (!create) {
    return nullptr;
  }
  auto queue = std::make_shared<ThreadQueue>();
  r.queues.emplace(thread, queue);
  return queue;
}

// Removes the calling thread's queue when the thread ends, so that a later thread that gets
// the same id does not inherit its messages.
struct QueueOwner {
  bool owns = false;
  ~QueueOwner() {
    if (!owns) {
      return;
    }
    auto& r = queueRegistry();
    std::lock_guard lock(r.mutex);
    r.queues.erase(std::this_thread::get_id());
  }
};

std::shared_ptr<ThreadQueue> ownQueue() {
  thread_local QueueOwner owner;
  owner.owns = true;
  return queueOf(std::this_thread::get_id(), true);
}

DWORD tickCount() {
  using namespace std::chrono;
  return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool inRange(UINT message, UINT filterMin, UINT filterMax) {
  if (filterMin == 0 && filterMax == 0) {
    return true;
  }
  return message >= filterMin && message <= filterMax;
}

bool matches(const MSG& message, HWND filter, UINT filterMin, UINT filterMax) {
  if (!inRange(message.message, filterMin, filterMax)) {
    return false;
  }
  return filter == nullptr || isSelfOrDescendant(message.hwnd, filter);
}

void wakeQueue(ThreadQueue& queue) {
  {
    std::lock_guard lock(queue.mutex);
    ++queue.wakeCount;
  }
  queue.wake.notify_all();
}

}  // namespace

void wakeThread(std::thread::id thread) {
  if (const auto queue = queueOf(thread, false)) {
    wakeQueue(*queue);
  }  // a thread without a queue is not waiting in GetMessageW
}

namespace {
// Every thread's queue, taken under the registry's lock and used without it.
std::vector<std::shared_ptr<ThreadQueue>> allQueues() {
  auto& r = queueRegistry();
  std::vector<std::shared_ptr<ThreadQueue>> all;
  std::lock_guard lock(r.mutex);
  for (const auto& entry : r.queues) {
    all.push_back(entry.second);
  }
  return all;
}
}  // namespace

void wakeAllThreads() {
  for (const auto& queue : allQueues()) {
    wakeQueue(*queue);
  }
}

void dropPostedMessages(HWND window) {
  for (const auto& queue : allQueues()) {
    std::lock_guard lock(queue->mutex);
    std::erase_if(queue->posted, [window](const MSG& m) { return m.hwnd == window; });
  }
}

}  // namespace kvo::win32impl

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  using namespace kvo::win32impl;
  std::thread::id owner = std::this_thread::get_id();
  if (window != nullptr) {
    const auto object = findWindow(window);
    if (!object) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    owner = object->ownerThread;
  }
  const auto queue = owner == std::this_thread::get_id() ? ownQueue() : queueOf(owner, true);
  {
    std::lock_guard lock(queue->mutex);
    queue->posted.push_back(MSG{window, message, wParam, lParam, tickCount(), POINT{0, 0}});
    ++queue->postCount;
  }
  queue->wake.notify_all();
  return TRUE;
}

BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
  using namespace kvo::win32impl;
  if (message == nullptr || (window != nullptr && !IsWindow(window)) || filterMin > filterMax) {
    SetLastError(window != nullptr && !IsWindow(window) ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
    return -1;
  }
  const auto queue = ownQueue();
  const auto self = std::this_thread::get_id();
  std::unique_lock lock(queue->mutex);
  for (;;) {
    // Counted before looking: whatever is posted or invalidated from here on, also while the
    // lock is let go for the picture and paint look-ups below, ends the wait and gets looked at.
    const std::uint64_t postsSeen = queue->postCount;
    const std::uint64_t wakesSeen = queue->wakeCount;
    // The window's picture file first: it is written by the window's thread, at most once a
    // second, and the wait below ends when the next write comes due.
    lock.unlock();
    const auto pictureDue = servePictureFile(self);
    const auto inputDue = serveWindowInput(self);  // may post: looked at below
    lock.lock();
    for (auto it = queue->posted.begin(); it != queue->posted.end(); ++it) {
      if (matches(*it, window, filterMin, filterMax)) {
        *message = *it;
        queue->posted.erase(it);
        return message->message == WM_QUIT ? FALSE : TRUE;
      }
    }
    if (queue->quitPosted) {
      queue->quitPosted = false;
      *message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue->quitCode), 0, tickCount(), POINT{0, 0}};
      return FALSE;
    }
    if (inRange(WM_PAINT, filterMin, filterMax)) {
      // Looked up without the queue lock: the window registry has its own, and InvalidateRect
      // takes the window lock before it wakes this queue.
      lock.unlock();
      const HWND dirty = windowNeedingPaint(self, window);
      lock.lock();
      if (dirty != nullptr) {
        *message = MSG{dirty, WM_PAINT, 0, 0, tickCount(), POINT{0, 0}};
        return TRUE;
      }
    }
    const auto woken = [&] {
      return queue->postCount != postsSeen || queue->quitPosted || queue->wakeCount != wakesSeen;
    };
    const auto due = pictureDue && inputDue ? std::min(*pictureDue, *inputDue) : pictureDue ? pictureDue : inputDue;
    if (due && !manualClock()) {
      queue->wake.wait_until(lock, *due, woken);
    } else {
      queue->wake.wait(lock, woken);  // a manual clock wakes every thread when it moves
    }
  }
}

BOOL TranslateMessage(const MSG* /*message*/) { return FALSE; }

LRESULT DispatchMessageW(const MSG* message) {
  if (message == nullptr || message->hwnd == nullptr) {
    return 0;  // thread messages have no window procedure
  }
  return SendMessageW(message->hwnd, message->message, message->wParam, message->lParam);
}

void PostQuitMessage(int exitCode) {
  const auto queue = kvo::win32impl::ownQueue();
  {
    std::lock_guard lock(queue->mutex);
    queue->quitPosted = true;
    queue->quitCode = exitCode;
  }
  queue->wake.notify_all();
}

namespace kvo::win32test {

std::size_t postedMessageCount() {
  const auto queue = kvo::win32impl::queueOf(std::this_thread::get_id(), false);
  if (!queue) {
    return 0;
  }
  std::lock_guard lock(queue->mutex);
  return queue->posted.size();
}

std::optional<MSG> peekPostedMessage(HWND window, UINT message) {
  const auto queue = kvo::win32impl::queueOf(std::this_thread::get_id(), false);
  if (!queue) {
    return std::nullopt;
  }
  std::lock_guard lock(queue->mutex);
  for (auto it = queue->posted.begin(); it != queue->posted.end(); ++it) {
    if ((window == nullptr || it->hwnd == window) && it->message == message) {
      MSG found = *it;
      queue->posted.erase(it);
      return found;
    }
  }
  return std::nullopt;
}

bool quitPosted(int* exitCode) {
  const auto queue = kvo::win32impl::queueOf(std::this_thread::get_id(), false);
  if (!queue) {
    return false;
  }
  std::lock_guard lock(queue->mutex);
  if (queue->quitPosted && exitCode != nullptr) {
    *exitCode = queue->quitCode;
  }
  return queue->quitPosted;
}

void resetMessageQueue() {
  const auto queue = kvo::win32impl::queueOf(std::this_thread::get_id(), false);
  if (!queue) {
    return;
  }
  std::lock_guard lock(queue->mutex);
  queue->posted.clear();
  queue->quitPosted = false;
  queue->quitCode = 0;
}

}  // namespace kvo::win32test
