// The message queue and loop, registered window classes with WM_CREATE, the module's string and
// icon resources, and showing and placing windows.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/resources.h"
#include "platform/win32/testing.h"
#include "platform/win32/win32.h"

namespace {

using namespace std::chrono_literals;

// What the test procedure heard, for the window it was given.
struct Heard {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::thread::id thread;
};
std::mutex g_heardMutex;
std::vector<Heard> g_heard;
LPVOID g_createParams = nullptr;
std::u16string g_createName;
LRESULT g_createResult = 0;

LRESULT CALLBACK_recording(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard lock(g_heardMutex);
    g_heard.push_back(Heard{message, wParam, lParam, std::this_thread::get_id()});
  }
  switch (message) {
    case WM_CREATE: {
      const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      g_createParams = creation->lpCreateParams;
      g_createName = creation->lpszName;
      return g_createResult;
    }
    case WM_DESTROY:
      PostQuitMessage(7);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

std::vector<UINT> heardMessages() {
  std::lock_guard lock(g_heardMutex);
  std::vector<UINT> result;
  for (const auto& h : g_heard) result.push_back(h.message);
  return result;
}

WNDCLASSEXW classNamed(const char16_t* name) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(WNDCLASSEXW);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = CALLBACK_recording;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = name;
  return wc;
}

class MessageLoopTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    kvo::win32test::resetWindows();
    kvo::win32test::resetClasses();
    kvo::win32test::resetMessageQueue();
    kvo::win32test::resetResources();
    std::lock_guard lock(g_heardMutex);
    g_heard.clear();
    g_createResult = 0;
    g_createParams = nullptr;
  }
  HWND createMain(LPVOID param = nullptr) {
    EXPECT_NE(RegisterClassExW(&wc_), 0);
    return CreateWindowExW(0, u"LoopTestWindow", u"Title", WS_CAPTION | WS_SYSMENU, 400, 20, 880, 516, nullptr,
                           nullptr, GetModuleHandleW(nullptr), param);
  }
  WNDCLASSEXW wc_ = classNamed(u"LoopTestWindow");
};

TEST_F(MessageLoopTest, RegisteredClassGivesItsProcedureAndWmCreateWithTheCreationData) {
  int token = 0;
  const HWND window = createMain(&token);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(heardMessages(), std::vector<UINT>{WM_CREATE});
  EXPECT_EQ(g_createParams, &token);
  EXPECT_EQ(g_createName, u"Title");
  EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC)), CALLBACK_recording);

  // Names compare without ASCII case; a second registration of the name is refused.
  WNDCLASSEXW again = classNamed(u"looptestWINDOW");
  SetLastError(0);
  EXPECT_EQ(RegisterClassExW(&again), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
}

TEST_F(MessageLoopTest, CreationRefusedByWmCreateLeavesNoWindow) {
  g_createResult = -1;
  const std::size_t before = kvo::win32test::windowCount();
  EXPECT_EQ(createMain(), nullptr);
  EXPECT_EQ(kvo::win32test::windowCount(), before);
  EXPECT_EQ(heardMessages(), (std::vector<UINT>{WM_CREATE, WM_DESTROY}));
}

TEST_F(MessageLoopTest, BadClassDescriptionsAreRefused) {
  WNDCLASSEXW noProcedure = classNamed(u"X1");
  noProcedure.lpfnWndProc = nullptr;
  WNDCLASSEXW wrongSize = classNamed(u"X2");
  wrongSize.cbSize = 4;
  WNDCLASSEXW noName = classNamed(u"");
  for (const WNDCLASSEXW* wc : {&noProcedure, &wrongSize, &noName}) {
    SetLastError(0);
    EXPECT_EQ(RegisterClassExW(wc), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(RegisterClassExW(nullptr), 0);
}

TEST_F(MessageLoopTest, PostedMessagesComeInOrderThenQuitWithItsCode) {
  const HWND window = createMain();
  ASSERT_TRUE(PostMessageW(window, WM_APP + 1, 1, 2));
  ASSERT_TRUE(PostMessageW(window, WM_APP + 2, 3, 4));
  PostQuitMessage(5);  // WM_QUIT waits for the posted messages before it
  MSG msg{};
  ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, WM_APP + 1);
  EXPECT_EQ(msg.hwnd, window);
  EXPECT_EQ(msg.wParam, 1u);
  EXPECT_EQ(DispatchMessageW(&msg), 0);
  ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, WM_APP + 2);
  EXPECT_EQ(msg.lParam, 4);
  EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 5u);
  EXPECT_EQ(heardMessages(), (std::vector<UINT>{WM_CREATE, WM_APP + 1}));
}

TEST_F(MessageLoopTest, FiltersTakeOnlyMatchingMessages) {
  const HWND window = createMain();
  PostMessageW(nullptr, WM_APP + 9, 0, 0);  // a thread message
  PostMessageW(window, WM_APP + 1, 0, 0);
  MSG msg{};
  ASSERT_EQ(GetMessageW(&msg, window, 0, 0), TRUE);
  EXPECT_EQ(msg.message, WM_APP + 1);
  ASSERT_EQ(GetMessageW(&msg, nullptr, WM_APP + 5, WM_APP + 10), TRUE);
  EXPECT_EQ(msg.message, WM_APP + 9);
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(DispatchMessageW(&msg), 0);  // no procedure for a thread message
  EXPECT_EQ(GetMessageW(nullptr, nullptr, 0, 0), -1);
  EXPECT_EQ(GetMessageW(&msg, window, 10, 5), -1);
}

TEST_F(MessageLoopTest, MessagesPostedFromAnotherThreadWakeTheOwnerAndRunThere) {
  const HWND window = createMain();
  const auto owner = std::this_thread::get_id();
  std::thread poster([window] {
    for (int i = 0; i < 100; ++i) {
      PostMessageW(window, WM_APP + 1, static_cast<WPARAM>(i), 0);
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
  });
  MSG msg{};
  int expected = 0;
  int exitCode = -1;
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    ASSERT_NE(got, -1);
    if (got == 0) {
      exitCode = static_cast<int>(msg.wParam);
      break;
    }
    if (msg.message == WM_APP + 1) {
      EXPECT_EQ(msg.wParam, static_cast<WPARAM>(expected++));
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  poster.join();
  EXPECT_EQ(expected, 100);
  EXPECT_EQ(exitCode, 7);  // WM_CLOSE -> DestroyWindow -> WM_DESTROY -> PostQuitMessage(7)
  EXPECT_FALSE(IsWindow(window));
  std::lock_guard lock(g_heardMutex);
  for (const auto& h : g_heard) EXPECT_EQ(h.thread, owner);
}

TEST_F(MessageLoopTest, PostingToADeadWindowFailsAndDestroyingDropsItsMessages) {
  const HWND window = createMain();
  PostMessageW(window, WM_APP + 1, 0, 0);
  DestroyWindow(window);
  EXPECT_EQ(kvo::win32test::postedMessageCount(), 0u);
  SetLastError(0);
  EXPECT_FALSE(PostMessageW(window, WM_APP + 1, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(MessageLoopTest, InvalidatedWindowGetsOneWmPaintAfterPostedMessages) {
  const HWND window = createMain();
  InvalidateRect(window, nullptr, TRUE);
  InvalidateRect(window, nullptr, TRUE);  // areas merge into one paint
  PostMessageW(window, WM_APP + 1, 0, 0);
  MSG msg{};
  ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, WM_APP + 1);
  ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, WM_PAINT);
  EXPECT_TRUE(kvo::win32test::needsPaint(window));
  DispatchMessageW(&msg);  // DefWindowProcW validates
  EXPECT_FALSE(kvo::win32test::needsPaint(window));

  // An invalidation from another thread wakes a waiting loop.
  std::thread painter([window] {
    std::this_thread::sleep_for(20ms);
    InvalidateRect(window, nullptr, FALSE);
  });
  ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, WM_PAINT);
  painter.join();
}

TEST_F(MessageLoopTest, UpdateWindowPaintsAtOnceOnlyWhenNeeded) {
  const HWND window = createMain();
  EXPECT_TRUE(UpdateWindow(window));
  EXPECT_EQ(heardMessages(), std::vector<UINT>{WM_CREATE});
  InvalidateRect(window, nullptr, TRUE);
  EXPECT_TRUE(UpdateWindow(window));
  // DefWindowProcW paints by BeginPaint, which erases first.
  EXPECT_EQ(heardMessages(), (std::vector<UINT>{WM_CREATE, WM_PAINT, WM_ERASEBKGND}));
  EXPECT_FALSE(UpdateWindow(reinterpret_cast<HWND>(0x1234)));
}

TEST_F(MessageLoopTest, ShowPlaceAndTopmost) {
  const HWND window = createMain();
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_FALSE(ShowWindow(window, SW_SHOW));  // was hidden
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_TRUE(ShowWindow(window, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(window));

  RECT r{};
  ASSERT_TRUE(GetWindowRect(window, &r));
  EXPECT_EQ(r.left, 400);
  EXPECT_EQ(r.top, 20);
  EXPECT_EQ(r.right, 1280);
  EXPECT_EQ(r.bottom, 536);

  ASSERT_TRUE(SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
  EXPECT_NE(kvo::win32test::windowInfo(window)->exStyle & WS_EX_TOPMOST, 0u);
  ASSERT_TRUE(GetWindowRect(window, &r));
  EXPECT_EQ(r.left, 400);  // not moved, not sized
  EXPECT_EQ(r.right, 1280);
  ASSERT_TRUE(SetWindowPos(window, HWND_NOTOPMOST, -50, 60, 0, 0, SWP_NOSIZE));
  EXPECT_EQ(kvo::win32test::windowInfo(window)->exStyle & WS_EX_TOPMOST, 0u);
  ASSERT_TRUE(GetWindowRect(window, &r));
  EXPECT_EQ(r.left, -50);
  EXPECT_EQ(r.top, 60);
  EXPECT_EQ(r.right, 830);
  EXPECT_FALSE(GetWindowRect(window, nullptr));
}

TEST_F(MessageLoopTest, StringAndIconResourcesOfTheModule) {
  static constexpr kvo::win32res::StringResource strings[] = {{101, u"Ambrelvane"}};
  static constexpr kvo::win32res::IconResource icons[] = {{100, 48, 48}};
  const HINSTANCE module = GetModuleHandleW(nullptr);
  WCHAR buffer[100];
  SetLastError(0);
  EXPECT_EQ(LoadStringW(module, 101, buffer, 100), 0);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(LoadIconW(module, MAKEINTRESOURCEW(100)), nullptr);

  kvo::win32res::registerModuleResources(strings, icons);
  ASSERT_EQ(LoadStringW(module, 101, buffer, 100), 10);
  EXPECT_EQ(std::u16string(buffer), u"Ambrelvane");
  ASSERT_EQ(LoadStringW(module, 101, buffer, 4), 3);  // cut to fit with its terminator
  EXPECT_EQ(std::u16string(buffer), u"Amb");
  const WCHAR* direct = nullptr;
  EXPECT_EQ(LoadStringW(module, 101, reinterpret_cast<LPWSTR>(&direct), 0), 10);
  EXPECT_EQ(std::u16string(direct, 10), u"Ambrelvane");
  EXPECT_EQ(LoadStringW(module, 102, buffer, 100), 0);

  const HICON icon = LoadIconW(module, MAKEINTRESOURCEW(100));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(LoadIconW(module, MAKEINTRESOURCEW(100)), icon);  // the same resource, the same handle
  EXPECT_EQ(kvo::win32test::iconInfo(icon)->id, 100);
  EXPECT_FALSE(kvo::win32test::iconInfo(icon)->system);
  EXPECT_EQ(LoadIconW(module, MAKEINTRESOURCEW(101)), nullptr);
  EXPECT_TRUE(kvo::win32test::iconInfo(LoadIconW(nullptr, IDI_APPLICATION))->system);
  EXPECT_NE(LoadCursorW(nullptr, IDC_ARROW), nullptr);
  EXPECT_EQ(GetModuleHandleW(u"other.dll"), nullptr);

  // A handle stays valid after the table is replaced.
  kvo::win32test::resetResources();
  EXPECT_EQ(kvo::win32test::iconInfo(icon)->id, 100);
  EXPECT_EQ(LoadIconW(module, MAKEINTRESOURCEW(100)), nullptr);
}

TEST_F(MessageLoopTest, ClassKeepsItsIconsCursorAndBackground) {
  static constexpr kvo::win32res::IconResource icons[] = {{100, 32, 32}};
  kvo::win32res::registerModuleResources({}, icons);
  wc_.hIcon = LoadIconW(wc_.hInstance, MAKEINTRESOURCEW(100));
  wc_.hIconSm = wc_.hIcon;
  wc_.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc_.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  ASSERT_NE(RegisterClassExW(&wc_), 0);
  const auto info = kvo::win32test::registeredClass(u"LOOPTESTWINDOW");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->style, CS_HREDRAW | CS_VREDRAW);
  EXPECT_EQ(kvo::win32test::iconInfo(info->icon)->id, 100);
  EXPECT_EQ(info->smallIcon, info->icon);
  EXPECT_EQ(info->cursor, LoadCursorW(nullptr, IDC_ARROW));
  EXPECT_EQ(info->background, GetStockObject(BLACK_BRUSH));
  EXPECT_TRUE(UnregisterClassW(u"LoopTestWindow", nullptr));
  EXPECT_FALSE(kvo::win32test::registeredClass(u"LoopTestWindow"));
}

}  // namespace
