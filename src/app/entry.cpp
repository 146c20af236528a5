#include "app/entry.h"

#include <fmt/format.h>

#include <system_error>

#include "app/run_control.h"
#include "app/window_proc.h"
#include "core/files.h"
#include "core/log.h"
#include "core/run_flags.h"
#include "shared_state/main_window.h"
#include "traffic/traffic_engine.h"

std::filesystem::path g_appDataFolder;

namespace {

HANDLE g_singleInstanceMutex = nullptr;  // kept open for the life of the process

// The runs' threads end before the process does: a close that did not come through WM_CLOSE
// (the window destroyed) still asks them to stop.
void stopRunThreads() {
  requestQuitByUser();
  if (g_startupThread.joinable()) g_startupThread.join();
  if (g_simClientThread.joinable()) {
    g_simClientThread.request_stop();
    g_simClientThread.join();
  }
}

}  // namespace

int wWinMain(HINSTANCE instance, HINSTANCE /*previousInstance*/, LPWSTR /*commandLine*/, int /*showCommand*/) {
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName);
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    if (mutex != nullptr) CloseHandle(mutex);
    return -1;  // a second instance: no window, no log
  }
  g_singleInstanceMutex = mutex;
  openLogFile();
  return runApplication(instance);
}

int runApplication(HINSTANCE instance) {
  installEngineCalls();  // before any run starts a link thread
  WCHAR title[100];
  if (LoadStringW(instance, kTitleStringId, title, 100) == 0) {
    logLine("Failed to load application title");
    return 0;
  }
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(WNDCLASSEXW);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = mainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kMainIconId));
  windowClass.hIconSm = windowClass.hIcon;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = title;
  if (RegisterClassExW(&windowClass) == 0) {
    logLine("Failed to register window class");
    return 0;
  }
  if (!initInstance(instance, title)) {
    logLine("initInstance failed");
    return 0;
  }
  g_appDataFolder = programFolder();
  try {
    std::error_code ec;
    const bool exists = std::filesystem::exists(g_appDataFolder, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) {
      throw std::filesystem::filesystem_error("exists", g_appDataFolder, ec);
    }
    if (!exists) std::filesystem::create_directories(g_appDataFolder);
  } catch (const std::exception& e) {
    logLine(fmt::format("Failed to create directory: {}", e.what()));
    return 0;
  }
  if (HWND window = g_mainWindow.hwnd.load()) PostMessageW(window, kStartRunMessage, 0, 0);
  MSG message{};
  BOOL got = 0;
  while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
    if (got == -1) break;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  stopRunThreads();
  return got == 0 ? static_cast<int>(message.wParam) : 0;
}

void releaseSingleInstanceForTests() {
  if (g_singleInstanceMutex != nullptr) {
    CloseHandle(g_singleInstanceMutex);
    g_singleInstanceMutex = nullptr;
  }
}
