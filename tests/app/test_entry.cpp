// The entry: one instance per user, the failures before the message loop, and a whole process
// life through the message loop (the first run starts by WM_APP+1, the window's close ends it,
// WM_APP+2 stores the window position and ends the loop).

#include <thread>

#include "app/entry.h"
#include "app/window_proc.h"
#include "app_fixture.h"
#include "platform/win32/resources.h"

using namespace apptest;
using namespace std::chrono_literals;

namespace {

constexpr kvo::win32res::StringResource kStrings[] = {{kTitleStringId, u"Ambrelvane"}};
constexpr kvo::win32res::IconResource kIcons[] = {{kMainIconId, 32, 32}};

class EntryTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    kvo::win32test::resetClasses();
    kvo::win32res::registerModuleResources(kStrings, kIcons);
  }
  // The main window as runApplication makes it.
  static bool createMainWindow() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.lpszClassName = u"Ambrelvane";
    return RegisterClassExW(&windowClass) != 0 && initInstance(GetModuleHandleW(nullptr), u"Ambrelvane");
  }
  void TearDown() override {
    if (g_startupThread.joinable()) {
      requestQuitByUser();
      g_startupThread.join();
    }
    releaseSingleInstanceForTests();
    kvo::win32test::resetResources();
    kvo::win32test::resetClasses();
    AppTest::TearDown();
  }
};

TEST_F(EntryTest, ASecondInstanceEndsAtOnceWithoutTouchingTheLog) {
  const HANDLE first = CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName);
  ASSERT_NE(first, nullptr);
  const std::string before = log();
  WCHAR commandLine[1] = {0};
  EXPECT_EQ(wWinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOWDEFAULT), -1);
  EXPECT_EQ(log(), before);
  EXPECT_EQ(kvo::win32test::windowCount(), 0u);
  CloseHandle(first);
}

TEST_F(EntryTest, WithoutItsTitleTheProgramEnds) {
  kvo::win32test::resetResources();
  EXPECT_EQ(runApplication(GetModuleHandleW(nullptr)), 0);
  EXPECT_TRUE(contains(log(), "Failed to load application title"));
  EXPECT_EQ(g_mainWindow.hwnd.load(), nullptr);
}

TEST_F(EntryTest, AClassThatCannotBeRegisteredEndsTheProgram) {
  WNDCLASSEXW taken{};
  taken.cbSize = sizeof taken;
  taken.lpfnWndProc = DefWindowProcW;
  taken.lpszClassName = u"Ambrelvane";
  ASSERT_NE(RegisterClassExW(&taken), 0);
  EXPECT_EQ(runApplication(GetModuleHandleW(nullptr)), 0);
  EXPECT_TRUE(contains(log(), "Failed to register window class"));
}

TEST_F(EntryTest, AStoredPositionOnItsLimitIsReplacedAtStart) {
  g_mainWindow.MAIN_WINDOW_X.set(-30000);
  g_mainWindow.MAIN_WINDOW_Y.set(1200);
  saveIntParameter(g_mainWindow.MAIN_WINDOW_X);
  saveIntParameter(g_mainWindow.MAIN_WINDOW_Y);
  g_mainWindow.MAIN_WINDOW_X.set(400);
  g_mainWindow.MAIN_WINDOW_Y.set(20);
  ASSERT_TRUE(createMainWindow());
  RECT rect{};
  ASSERT_TRUE(GetWindowRect(g_mainWindow.hwnd.load(), &rect));
  EXPECT_EQ(rect.left, 400);
  EXPECT_EQ(rect.top, 1200);
  EXPECT_EQ(rect.right - rect.left, 880);
  EXPECT_EQ(rect.bottom - rect.top, 516);
  EXPECT_EQ(storedValue("MAIN_WINDOW_X"), "400");
  EXPECT_TRUE(IsWindowVisible(g_mainWindow.hwnd.load()));
}

TEST_F(EntryTest, AProcessLifeThroughTheMessageLoop) {
  // The first run fails its start-up (no "docs" folder here) and waits for the user; the
  // user closes the window; the run closes down and the program quits.
  onWaitAction = [](std::chrono::milliseconds) { std::this_thread::sleep_for(1ms); };
  std::thread user([] {
    ASSERT_TRUE(coretest::waitFor([] { return g_exitReason.load() == kvo::kExitSystemError; }));
    PostMessageW(g_mainWindow.hwnd.load(), WM_CLOSE, 0, 0);
  });
  const int exitCode = runApplication(GetModuleHandleW(nullptr));
  user.join();
  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(fs::is_directory(folder_.path() / "roaming" / "Ambrelvane"));
  EXPECT_EQ(g_appDataFolder, folder_.path() / "roaming" / "Ambrelvane");
  const std::string text = log();
  EXPECT_TRUE(contains(text, "Error 41: Ambrelvane must be run from the Ambrelvane folder!"));
  EXPECT_TRUE(contains(text, "User closed Ambrelvane"));
  EXPECT_TRUE(contains(text, "Exiting: SYSTEM ERROR"));
  EXPECT_EQ(storedValue("MAIN_WINDOW_X"), "400");
  EXPECT_EQ(storedValue("MAIN_WINDOW_Y"), "20");
  EXPECT_FALSE(g_startupThread.joinable());
  // The window stays until the program ends; it was never destroyed by the close.
  EXPECT_TRUE(IsWindow(g_mainWindow.hwnd.load()));
}

TEST_F(EntryTest, QuittingStoresTheWindowPositionClampedAndPutsALimitBack) {
  ASSERT_TRUE(createMainWindow());
  const HWND window = g_mainWindow.hwnd.load();
  SetWindowPos(window, nullptr, -40000, 300, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SendMessageW(window, WM_APP + 2, 0, 0);
  // Left beyond the limit: clamped, then the value from before put back.
  EXPECT_EQ(g_mainWindow.MAIN_WINDOW_X.value(), 400);
  EXPECT_EQ(storedValue("MAIN_WINDOW_X"), "400");
  EXPECT_EQ(storedValue("MAIN_WINDOW_Y"), "300");
  int code = -1;
  EXPECT_TRUE(kvo::win32test::quitPosted(&code));
  EXPECT_EQ(code, 0);
}

TEST_F(EntryTest, CloseAsksTheRunToEndAndKeepsTheWindow) {
  ASSERT_TRUE(createMainWindow());
  const HWND window = g_mainWindow.hwnd.load();
  SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(g_quitRequested.load());
  EXPECT_EQ(g_exitReason.load(), kvo::kExitUserClosedSim);
  EXPECT_EQ(message(), "Close window button clicked, closing Ambrelvane ...");
  SendMessageW(window, WM_DESTROY, 0, 0);
  EXPECT_TRUE(kvo::win32test::quitPosted());
}

}  // namespace
