// The program's start on this machine. On Windows the C runtime calls wWinMain with the module
// and the resource compiler puts the program's strings and icons into that module; here main()
// does both, and turns the signals that end a process into the close of the main window.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "app/entry.h"
#include "platform/win32/resources.h"
#include "platform/win32/win32.h"
#include "shared_state/main_window.h"
#include "shared_state/run_end.h"

namespace {

// The resource script: the title string and the program's icon.
constexpr kvo::win32res::StringResource kStrings[] = {{kTitleStringId, u"Ambrelvane"}};
constexpr kvo::win32res::IconResource kIcons[] = {{kMainIconId, 32, 32}};

std::atomic<bool> g_processEnding{false};

// SIGINT and SIGTERM close the main window as the user's click on its close button does: the
// run closes down and the program quits in order. Every thread blocks the two signals; this
// one waits for them.
void watchSignals(sigset_t signals) {
  for (;;) {
    int received = 0;
    if (sigwait(&signals, &received) != 0) continue;
    if (g_processEnding.load()) return;
    if (HWND window = g_mainWindow.hwnd.load()) {
      PostMessageW(window, WM_CLOSE, 0, 0);
    } else {
      requestQuitByUser();  // no window yet: the first run sees the quit and ends at once
    }
  }
}

}  // namespace

int main() {
  kvo::win32res::registerModuleResources(kStrings, kIcons);

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any other thread exists
  std::thread watcher(watchSignals, signals);

  WCHAR commandLine[1] = {u'\0'};
  const int exitCode = wWinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOWDEFAULT);

  g_processEnding = true;
  pthread_kill(watcher.native_handle(), SIGTERM);  // wakes the watcher so that it can end
  watcher.join();
  return exitCode;
}
