#include "app/window_proc.h"

#include <fmt/format.h>
#include <pugixml.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <thread>

#include "app/controls.h"
#include "app/option_handlers.h"
#include "app/paint.h"
#include "app/run_control.h"
#include "core/files.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/timeutil.h"
#include "shared_state/main_window.h"

namespace {

// The stored window position, read before the window exists.
void loadWindowPosition() {
  const auto path = programFolder() / "parameters.xml";
  std::FILE* file = std::fopen(path.string().c_str(), "rb");
  if (file == nullptr) return;
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_file(path.string().c_str());
  std::fclose(file);
  if (!parsed) return;  // a missing or broken file keeps the defaults
  loadIntParameter(g_mainWindow.MAIN_WINDOW_X, doc, false);
  loadIntParameter(g_mainWindow.MAIN_WINDOW_Y, doc, false);
  g_mainWindow.storeWindowPosition(400, 20);
}

void quitProgram(HWND window) {
  RECT rect{};
  if (GetWindowRect(window, &rect)) {
    const std::int32_t keptX = g_mainWindow.MAIN_WINDOW_X.value();
    const std::int32_t keptY = g_mainWindow.MAIN_WINDOW_Y.value();
    g_mainWindow.MAIN_WINDOW_X.set(rect.left);  // set() clamps to the limits
    saveIntParameter(g_mainWindow.MAIN_WINDOW_X);
    g_mainWindow.MAIN_WINDOW_Y.set(rect.top);
    saveIntParameter(g_mainWindow.MAIN_WINDOW_Y);
    g_mainWindow.storeWindowPosition(keptX, keptY);
  }
  logLine(timeToText(utcNowSeconds()));
  PostQuitMessage(0);
}

}  // namespace

bool initInstance(HINSTANCE instance, LPCWSTR title) {
  using namespace std::chrono_literals;
  for (int round = 0; !g_mainWindow.ready.load(std::memory_order_acquire); ++round) {
    if (round == 18) return false;
    std::this_thread::sleep_until(std::chrono::steady_clock::now() + 50ms);
  }
  loadWindowPosition();
  const HWND window = CreateWindowExW(0, title, title, WS_CAPTION | WS_SYSMENU, g_mainWindow.MAIN_WINDOW_X.value(),
                                      g_mainWindow.MAIN_WINDOW_Y.value(), kMainWindowWidth, kMainWindowHeight,
                                      nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return false;
  g_mainWindow.hwnd = window;
  ShowWindow(window, SW_SHOW);
  return UpdateWindow(window) != FALSE;
}

namespace {

// A failing paint is only logged: shown in the message line it would ask for the next paint.
void paintWindow(HWND window) {
  PAINTSTRUCT paint{};
  const HDC dc = BeginPaint(window, &paint);
  try {
    if (dc != nullptr) paintMainWindow(dc);
  } catch (const std::exception& e) {
    g_mainWindow.paintDc = nullptr;
    logArrowLine(fmt::format("{} exception {}", "paintMainWindow", e.what()));
  }
  EndPaint(window, &paint);
}

LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      rememberWindowThread();
      createControls(window, reinterpret_cast<const CREATESTRUCTW*>(lParam));
      return 0;
    case WM_DESTROY:
      forgetWindowThread();
      rememberControlsWindow(nullptr);
      PostQuitMessage(0);
      return 0;
    case WM_CLOSE:
      // The window stays until the run has closed down and WM_APP+2 ends the message loop.
      g_mainWindow.showMessage(fmt::format("Close window button clicked, closing {} ...", kvo::kProgramName), false);
      requestQuitByUser();
      return 0;
    case WM_COMMAND:
      if (lf_HandleWMCOMMAND(window, wParam)) return 0;
      return DefWindowProcW(window, message, wParam, lParam);
    case kStartRunMessage:
      try {
        startRunThread();
      } catch (const std::system_error& e) {
        // No thread for the run: the program cannot go on, so it quits in order instead of
        // letting the error leave the window procedure.
        logArrowLine(fmt::format("Failed to start a run: {}", e.what()));
        quitProgram(window);
      }
      return 0;
    case kQuitMessage:
      quitProgram(window);
      return 0;
    case WM_PAINT:
      paintWindow(window);
      return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
      // The controls' text stands on the options panel's sky blue.
      const HDC controlDc = reinterpret_cast<HDC>(wParam);
      SetBkMode(controlDc, OPAQUE);
      SetBkColor(controlDc, kvo::kSkyBlueColour);
      return reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH));
    }
    case kShowValueMessage:
    case kEnableControlMessage:
      handleControlMessage(message, wParam, lParam);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

LRESULT mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  rememberControlsWindow(window);
  LRESULT result = 0;
  // Nothing may leave a window procedure: the message loop would end with the program.
  atWindowEdge("mainWindowProc", [&] { result = handleMessage(window, message, wParam, lParam); });
  return result;
}
