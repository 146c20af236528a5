// What a test that drives the program as a process of its own has of the window: the window
// input file (messages for the window and its controls) and the picture read back from its PNG
// bytes with its texts.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32/testing.h"
#include "platform/win32/win32.h"
#include "support/test_support.h"

namespace {

struct Heard {
  UINT message;
  WPARAM wParam;
};
std::mutex g_mutex;
std::vector<Heard> g_heard;

LRESULT recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND || message == WM_CLOSE) {
    std::lock_guard lock(g_mutex);
    g_heard.push_back({message, wParam});
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class WindowInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kvo::win32test::resetWindows();
    kvo::win32test::resetClasses();
    kvo::win32test::resetMessageQueue();
    g_heard.clear();
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = recordingProc;
    windowClass.lpszClassName = u"InputTest";
    ASSERT_NE(RegisterClassExW(&windowClass), 0);
    main = CreateWindowExW(0, u"InputTest", u"", WS_CAPTION, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    box = CreateWindowExW(0, u"Edit", u"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0, 100, 16, main,
                          reinterpret_cast<HMENU>(0x8047), nullptr, nullptr);
    check = CreateWindowExW(0, u"button", u"", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 0, 20, 12, 12, main,
                            reinterpret_cast<HMENU>(0x800B), nullptr, nullptr);
    kvo::win32test::readWindowInputFrom(folder.path());
  }
  void TearDown() override {
    kvo::win32test::resetWindowInput();
    kvo::win32test::resetWindows();
    kvo::win32test::resetClasses();
    kvo::win32test::resetMessageQueue();
  }
  void putInput(const std::string& lines) const {
    coretest::writeFile(folder.path() / "window-input.txt.tmp", lines);
    std::filesystem::rename(folder.path() / "window-input.txt.tmp",
                            folder.path() / kvo::win32test::kWindowInputFileName);
  }
  // The message loop until the input file is taken and its messages dispatched.
  void pump() const {
    ASSERT_TRUE(coretest::waitFor([&] {
      PostMessageW(main, WM_NULL, 0, 0);  // one round of the loop
      MSG message{};
      while (kvo::win32test::postedMessageCount() > 0 && GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
      }
      return !std::filesystem::exists(folder.path() / kvo::win32test::kWindowInputFileName);
    }));
    MSG message{};
    while (kvo::win32test::postedMessageCount() > 0 && GetMessageW(&message, nullptr, 0, 0) > 0) {
      DispatchMessageW(&message);
    }
  }

  coretest::TempFolder folder;
  HWND main = nullptr;
  HWND box = nullptr;
  HWND check = nullptr;
};

TEST_F(WindowInputTest, LinesArePostedToTheWindowAndItsControls) {
  putInput("0x800B 0xF5 0\n"          // BM_CLICK on the check box
           "0x8047 0x0102 76\n"       // WM_CHAR 'L' into the edit box
           "32839 258 0x4f\n"         // decimal id and message: 'O'
           "0 0x0111 0x00018016 0\n"  // WM_COMMAND to the window itself
           "\n");
  pump();
  EXPECT_EQ(kvo::win32test::windowInfo(check)->check, static_cast<UINT>(BST_CHECKED));
  EXPECT_EQ(kvo::win32test::windowInfo(box)->text, u"LO");
  std::lock_guard lock(g_mutex);
  ASSERT_EQ(g_heard.size(), 2u);  // the check box's BN_CLICKED, then the line's command
  EXPECT_EQ(g_heard[0].wParam, MAKEWPARAM(0x800B, BN_CLICKED));
  EXPECT_EQ(g_heard[1].wParam, 0x00018016u);
}

TEST_F(WindowInputTest, LinesThatCannotBeTakenAreSkipped) {
  putInput("0x8047 0x000C 0 12345\n"  // WM_SETTEXT: its lParam would be a pointer
           "0x7777 0xF5 0\n"          // no such control
           "0x800B click 0\n"          // not a number
           "0x800B 0xF5\n"            // too few fields
           "0x8047 0x0102 65\n");
  pump();
  EXPECT_EQ(kvo::win32test::windowInfo(box)->text, u"A");
  EXPECT_EQ(kvo::win32test::windowInfo(check)->check, static_cast<UINT>(BST_UNCHECKED));
}

TEST_F(WindowInputTest, NothingIsReadWhileTheInputFileIsOff) {
  kvo::win32test::resetWindowInput();  // automatic: the simulator runs from no scenario here
  putInput("0x8047 0x0102 65\n");
  PostMessageW(main, WM_NULL, 0, 0);
  MSG message{};
  ASSERT_GT(GetMessageW(&message, nullptr, 0, 0), 0);
  DispatchMessageW(&message);
  EXPECT_TRUE(std::filesystem::exists(folder.path() / kvo::win32test::kWindowInputFileName));
  EXPECT_EQ(kvo::win32test::windowInfo(box)->text, u"");
}

TEST_F(WindowInputTest, OnlyARegularFileIsReadAndOfItOnlyItsFirstBytes) {
  // A FIFO under the name must not hold the window thread: a watchdog opens its other end after
  // a while, so that a thread stuck on it comes free and the test fails instead of hanging.
  const std::filesystem::path input = folder.path() / kvo::win32test::kWindowInputFileName;
  ASSERT_EQ(::mkfifo(input.c_str(), 0600), 0);
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 300 && !done.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done.load()) return;
    const int fd = ::open(input.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  });
  const auto start = std::chrono::steady_clock::now();
  PostMessageW(main, WM_NULL, 0, 0);
  MSG message{};
  ASSERT_GT(GetMessageW(&message, nullptr, 0, 0), 0);
  DispatchMessageW(&message);
  done = true;
  watchdog.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "the window thread was held";
  EXPECT_EQ(std::filesystem::status(input).type(), std::filesystem::file_type::fifo) << "left alone";

  // A file far beyond the limit: its whole lines within the first bytes are taken, the rest
  // dropped, and the file is gone.
  const std::string line = "0x8047 0x0102 65\n";
  std::string lines;
  while (lines.size() <= 2 * kvo::win32test::kMaxWindowInputBytes) lines += line;
  putInput(lines);  // renamed over the FIFO
  pump();
  EXPECT_EQ(kvo::win32test::windowInfo(box)->text.size(), kvo::win32test::kMaxWindowInputBytes / line.size());
}

LRESULT paintingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcW(window, message, wParam, lParam);
  PAINTSTRUCT paint{};
  const HDC dc = BeginPaint(window, &paint);
  const RECT band{0, 0, 200, 20};
  const HBRUSH lime = CreateSolidBrush(0x32CD32);
  FillRect(dc, &band, lime);
  DeleteObject(lime);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, 0x00FFFF);
  TextOutW(dc, 3, 4, u"Zürich 1013", 11);
  SetTextColor(dc, 0x0000FF);
  TextOutW(dc, 50, 40, u"red", 3);
  EndPaint(window, &paint);
  return 0;
}

TEST(WindowPng, ThePictureAndItsTextsComeBackFromThePngBytes) {
  kvo::win32test::resetWindows();
  kvo::win32test::resetClasses();
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = paintingProc;
  windowClass.lpszClassName = u"PngTest";
  ASSERT_NE(RegisterClassExW(&windowClass), 0);
  const HWND window =
      CreateWindowExW(0, u"PngTest", u"", WS_CAPTION, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
  InvalidateRect(window, nullptr, TRUE);
  UpdateWindow(window);
  const auto shown = *kvo::win32test::windowPicture(window);
  const auto back = kvo::win32test::pictureFromPng(kvo::win32test::pngOf(shown));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->width, 200);
  EXPECT_EQ(back->pixels, shown.pixels);
  ASSERT_EQ(back->texts.size(), 2u);
  const auto* first = back->findText(u"Zürich 1013");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->rect.left, 3);
  EXPECT_EQ(first->rect.top, 4);
  EXPECT_EQ(first->colour, 0x00FFFFu);
  EXPECT_EQ(back->findText(u"red")->colour, 0x0000FFu);
  EXPECT_FALSE(kvo::win32test::pictureFromPng({1, 2, 3}));
  kvo::win32test::resetWindows();
  kvo::win32test::resetClasses();
}

}  // namespace
