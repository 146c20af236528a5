#pragma once
// The main window as the program makes it (its class with the window procedure, the option
// controls created by WM_CREATE) on the test thread, with the lists filled and the controls
// enabled as a run's start-up checks leave them; and the user's hand on it: clicks, choices in
// the lists, typing with Enter.
#include <string>

#include "airports/airport_list.h"
#include "airports/park_stands.h"
#include "app/controls.h"
#include "core/text.h"
#include "core/utf.h"
#include "app/option_handlers.h"
#include "app/window_proc.h"
#include "app_fixture.h"

namespace apptest {

class WindowTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    kvo::win32test::resetClasses();
    resetOptionHandlersForTests();
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.lpszClassName = u"AmbrelvaneTest";
    ASSERT_NE(RegisterClassExW(&windowClass), 0);
    ASSERT_TRUE(initInstance(GetModuleHandleW(nullptr), u"AmbrelvaneTest"));
    window = g_mainWindow.hwnd.load();
    applySimulatorChoice();
    for (const ControlBinding* binding :
         {&ALL_INSTALL_PATH.binding, &DESTINATION.binding, &parking_percentage.binding, &MAX_FIT_FL.binding,
          &CALLSIGN_2_OBJECTID.binding, &g_flushStaticButton.binding, &g_reReadButton.binding,
          &g_unblockButton.binding, &LEARN_SOFT.binding}) {
      EnableWindow(binding->hwnd, TRUE);
    }
    g_mainWindow.clearMessage();
  }
  void TearDown() override {
    resetOptionHandlersForTests();
    g_parkAirportLoaded = false;
    AppTest::TearDown();
    kvo::win32test::resetClasses();
  }

  // The user's click: the control tells its parent (WM_COMMAND with BN_CLICKED).
  static void click(const ControlBinding& binding) { SendMessageW(binding.hwnd, BM_CLICK, 0, 0); }
  // The user's choice of the list's entry with this text.
  static bool choose(const ControlBinding& binding, const std::u16string& entry) {
    const auto items = kvo::win32test::comboItems(binding.hwnd);
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i] == entry) return kvo::win32test::selectComboItem(binding.hwnd, static_cast<int>(i));
    }
    return false;
  }
  // Replaces the box's text (as typing after selecting all would) and presses Enter.
  static void typeAndEnter(const ControlBinding& binding, const std::u16string& text) {
    SetWindowTextW(binding.hwnd, text.c_str());
    SendMessageW(binding.hwnd, WM_CHAR, 13, 0);
  }
  static std::u16string boxText(const ControlBinding& binding) {
    return kvo::win32test::windowInfo(binding.hwnd)->text;
  }
  static bool checked(const ControlBinding& binding) {
    return kvo::win32test::windowInfo(binding.hwnd)->check == BST_CHECKED;
  }
  static bool enabled(const ControlBinding& binding) { return IsWindowEnabled(binding.hwnd) != FALSE; }
  // Dispatches every message posted to this thread (the worker's writes to the controls).
  static void pumpPosted() {
    MSG message{};
    while (kvo::win32test::postedMessageCount() > 0) {
      if (GetMessageW(&message, nullptr, 0, 0) <= 0) break;
      DispatchMessageW(&message);
    }
  }

  HWND window = nullptr;
};

}  // namespace apptest
