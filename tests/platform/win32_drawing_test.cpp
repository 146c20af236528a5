// What the Win32 stand-in draws: GDI painting into the window's image, the controls' looks, the
// picture with its texts, user actions on the controls through messages, and window.png.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/simconnect/testing.h"
#include "platform/test_support.h"
#include "platform/win32/testing.h"
#include "platform/win32/win32.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kvo::win32test::DrawKind;
using kvo::win32test::DrawOperation;
using kvo::win32test::WindowPicture;

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = 0x0000FF;
constexpr COLORREF kLime = 0x32CD32;
constexpr COLORREF kYellow = 0x00FFFF;
constexpr COLORREF kSkyBlue = 0xFFCC99;
constexpr COLORREF kGrayText = RGB(109, 109, 109);

// The window procedure paints with whatever the test puts here.
std::function<void(HDC)> g_painter;
std::vector<WPARAM> g_commands;  // WM_COMMAND wParams the window heard

LRESULT testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      const HDC dc = BeginPaint(window, &paint);
      if (g_painter) g_painter(dc);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_COMMAND:
      g_commands.push_back(wParam);
      return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
      // As the program answers: the text on sky blue, the rest on the context's brush.
      const HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkMode(dc, OPAQUE);
      SetBkColor(dc, kSkyBlue);
      return reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH));
    }
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

HMENU idOf(int id) { return reinterpret_cast<HMENU>(static_cast<std::intptr_t>(id)); }

LRESULT send(HWND window, UINT message, WPARAM wParam = 0, const void* lParam = nullptr) {
  return SendMessageW(window, message, wParam, reinterpret_cast<LPARAM>(lParam));
}

std::vector<std::string> differences(const WindowPicture& picture,
                                     const std::vector<std::tuple<int, int, COLORREF>>& expected) {
  std::vector<std::string> wrong;
  for (const auto& [x, y, colour] : expected) {
    if (picture.pixel(x, y) != colour) {
      wrong.push_back(std::to_string(x) + "," + std::to_string(y));
    }
  }
  return wrong;
}

// Pixels of exactly the colour inside and around the rectangle.
int countColour(const WindowPicture& picture, const RECT& area, COLORREF colour) {
  int count = 0;
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) count += picture.pixel(x, y) == colour ? 1 : 0;
  }
  return count;
}

class DrawingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = testWindowProc;
    wc.lpszClassName = u"DrawTest";
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    ASSERT_NE(RegisterClassExW(&wc), 0);
    main_ = CreateWindowExW(0, u"DrawTest", u"DrawTest", WS_CAPTION | WS_SYSMENU, 400, 20, 300, 200, nullptr,
                            nullptr, nullptr, nullptr);
    ASSERT_NE(main_, nullptr);
  }
  void TearDown() override { reset(); }
  static void reset() {
    kvo::win32test::resetWindows();
    kvo::win32test::resetClasses();
    kvo::win32test::resetMessageQueue();
    kvo::win32test::resetWindowPictures();
    g_painter = nullptr;
    g_commands.clear();
  }

  void repaint(const RECT* area = nullptr, BOOL erase = TRUE) {
    InvalidateRect(main_, area, erase);
    UpdateWindow(main_);
  }
  WindowPicture picture() {
    auto taken = kvo::win32test::windowPicture(main_);
    EXPECT_TRUE(taken);
    return taken ? *taken : WindowPicture{};
  }
  HWND control(const char16_t* className, int id, DWORD style, int x, int y, int width, int height,
               const char16_t* text = u"") {
    return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, main_, idOf(id),
                           nullptr, nullptr);
  }

  HWND main_ = nullptr;
};

TEST_F(DrawingTest, RectanglesAndLinesCoverExactlyTheirPixels) {
  const HBRUSH red = CreateSolidBrush(kRed);
  const HPEN white = CreatePen(PS_SOLID, 1, kWhite);
  const HPEN wide = CreatePen(PS_SOLID, 3, kLime);
  g_painter = [&](HDC dc) {
    const RECT band{10, 20, 50, 40};
    FillRect(dc, &band, red);
    EXPECT_NE(SelectObject(dc, white), nullptr);  // the default black pen comes back
    const POINT corner[] = {{5, 60}, {45, 60}, {45, 80}};
    Polyline(dc, corner, 3);
    const POINT diagonal[] = {{60, 60}, {70, 70}};
    Polyline(dc, diagonal, 2);
    SelectObject(dc, wide);
    const POINT thick[] = {{100, 100}, {110, 100}};
    Polyline(dc, thick, 2);
  };
  repaint();
  const WindowPicture p = picture();
  ASSERT_EQ(p.width, 300);
  ASSERT_EQ(p.height, 200);
  EXPECT_EQ(differences(p, {// the rectangle: left and top in, right and bottom out
                            {10, 20, kRed}, {49, 39, kRed}, {9, 20, kBlack}, {50, 20, kBlack},
                            {10, 19, kBlack}, {10, 40, kBlack},
                            // a polyline: each segment without its last pixel, the corner drawn
                            {4, 60, kBlack}, {5, 60, kWhite}, {44, 60, kWhite}, {45, 60, kWhite},
                            {45, 79, kWhite}, {45, 80, kBlack}, {46, 70, kBlack}, {44, 70, kBlack},
                            {60, 60, kWhite}, {65, 65, kWhite}, {69, 69, kWhite}, {70, 70, kBlack},
                            {61, 60, kBlack},
                            // three pixels thick, centred on the line
                            {100, 99, kLime}, {100, 101, kLime}, {100, 98, kBlack}, {100, 102, kBlack},
                            {99, 100, kLime}, {110, 100, kLime}, {111, 100, kBlack}}),
            std::vector<std::string>{});
  // The erased background (class brush) and the painting, in order.
  const auto ops = kvo::win32test::drawOperations(main_);
  ASSERT_EQ(ops.size(), 5u);
  EXPECT_EQ(ops[0].kind, DrawKind::Fill);
  EXPECT_EQ(ops[0].colour, kBlack);
  EXPECT_EQ(ops[1].kind, DrawKind::Fill);
  EXPECT_EQ(ops[1].rect.right, 50);
  EXPECT_EQ(ops[2].kind, DrawKind::Line);
  EXPECT_EQ(ops[2].points.size(), 3u);
  EXPECT_EQ(ops[4].penWidth, 3);
  // Painting again replaces the record instead of adding to it.
  repaint();
  EXPECT_EQ(kvo::win32test::drawOperations(main_).size(), 5u);
  DeleteObject(red);
  DeleteObject(white);
  DeleteObject(wide);
}

TEST_F(DrawingTest, PaintingReachesOnlyTheUpdateRegion) {
  COLORREF colour = kRed;
  g_painter = [&](HDC dc) {
    const HBRUSH brush = CreateSolidBrush(colour);
    const RECT all{0, 0, 300, 200};
    FillRect(dc, &all, brush);
    DeleteObject(brush);
  };
  // A window that shows is painted whole; afterwards only what is invalidated.
  ShowWindow(main_, SW_SHOW);
  UpdateWindow(main_);
  EXPECT_EQ(picture().pixel(299, 199), kRed);
  colour = kYellow;
  const RECT corner{0, 0, 30, 30};
  repaint(&corner, FALSE);
  const WindowPicture p = picture();
  EXPECT_EQ(differences(p, {{0, 0, kYellow}, {29, 29, kYellow}, {30, 29, kRed}, {29, 30, kRed}, {299, 199, kRed}}),
            std::vector<std::string>{});
  // A paint without an update region draws nothing; a stale device context draws nothing.
  PAINTSTRUCT paint{};
  const HDC dc = BeginPaint(main_, &paint);
  EXPECT_EQ(paint.rcPaint.right, 0);
  const RECT all{0, 0, 300, 200};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  EndPaint(main_, &paint);
  EXPECT_EQ(FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))), 0);
  EXPECT_EQ(SetTextColor(dc, kRed), CLR_INVALID);
  EXPECT_EQ(picture().pixel(100, 100), kRed);
}

TEST_F(DrawingTest, TextsAtTheirTopLeftInTheirColourAndBackgroundMode) {
  g_painter = [](HDC dc) {
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kLime);
    TextOutW(dc, 3, 7, u"Version 1.0.0", 13);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, kRed);
    SetTextColor(dc, kYellow);
    TextOutW(dc, 3, 60, u"Error text", 10);
  };
  repaint();
  const WindowPicture p = picture();
  ASSERT_EQ(p.texts.size(), 2u);
  const DrawOperation* version = p.findText(u"Version 1.0.0");
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->rect.left, 3);
  EXPECT_EQ(version->rect.top, 7);
  EXPECT_EQ(version->colour, kLime);
  EXPECT_FALSE(version->opaque);
  EXPECT_GT(version->rect.right - version->rect.left, 40);
  EXPECT_GE(version->rect.bottom - version->rect.top, 11);
  // The glyphs are in the cell, in the colour, on the untouched background.
  EXPECT_GT(countColour(p, version->rect, kLime), 10);
  EXPECT_EQ(countColour(p, RECT{0, 0, 300, 7}, kLime), 0);
  EXPECT_EQ(countColour(p, RECT{0, version->rect.bottom, 300, 60}, kLime), 0);
  EXPECT_EQ(p.pixel(version->rect.left, version->rect.top), kBlack);

  const DrawOperation* error = p.findText(u"Error text");
  ASSERT_NE(error, nullptr);
  EXPECT_TRUE(error->opaque);
  EXPECT_EQ(error->background, kRed);
  EXPECT_EQ(error->colour, kYellow);
  EXPECT_EQ(p.pixel(3, 60), kRed);  // the cell's corner: background
  EXPECT_EQ(p.pixel(2, 60), kBlack);
  EXPECT_GT(countColour(p, error->rect, kYellow), 10);
}

TEST_F(DrawingTest, ControlsAsTheSystemDrawsThemOverThePaintedWindow) {
  g_painter = [](HDC dc) {
    const RECT all{0, 0, 300, 200};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  };
  const HWND box = control(u"button", 0x800B, BS_CHECKBOX, 10, 10, 12, 12);
  const HWND labelled = control(u"button", 0x8021, BS_AUTOCHECKBOX, 10, 30, 80, 16, u"Log");
  const HWND edit = control(u"Edit", 0x8047, WS_BORDER, 10, 50, 60, 16);
  const HWND combo = control(u"ComboBox", 0x8016, CBS_DROPDOWNLIST | WS_VSCROLL, 10, 70, 105, 80);
  const HWND push = control(u"button", 0x8046, BS_DEFPUSHBUTTON | WS_DISABLED, 150, 10, 90, 20, u"Re-read");
  send(combo, CB_ADDSTRING, 0, u"MSFS 2020");
  send(combo, CB_ADDSTRING, 0, u"MSFS 2024");
  send(combo, CB_SETCURSEL, 1);
  SetWindowTextW(edit, u"LOWS");
  repaint();
  EXPECT_TRUE(g_commands.empty());  // CB_SETCURSEL notifies nobody

  WindowPicture p = picture();
  // The small check box: its square framed, white inside, no mark.
  EXPECT_EQ(differences(p, {{10, 10, RGB(51, 51, 51)}, {15, 15, kWhite}, {16, 16, kWhite}}),
            std::vector<std::string>{});
  // Colours come from the parent: the check box's text and the edit box's on sky blue.
  const DrawOperation* logText = p.findText(u"Log");
  ASSERT_NE(logText, nullptr);
  EXPECT_EQ(logText->window, labelled);
  EXPECT_TRUE(logText->opaque);
  EXPECT_EQ(logText->background, kSkyBlue);
  const DrawOperation* typed = p.findText(u"LOWS");
  ASSERT_NE(typed, nullptr);
  EXPECT_EQ(typed->colour, kBlack);
  EXPECT_EQ(typed->background, kSkyBlue);
  EXPECT_GT(typed->rect.left, 10);
  EXPECT_EQ(p.pixel(10, 50), RGB(122, 122, 122));  // the border
  EXPECT_EQ(p.pixel(12, 64), kWhite);              // the parent's DC_BRUSH under the text line
  // The drop-down list: the selected text and a black arrow at the right, a white field.
  const DrawOperation* chosen = p.findText(u"MSFS 2024");
  ASSERT_NE(chosen, nullptr);
  EXPECT_EQ(chosen->colour, kBlack);
  EXPECT_GT(countColour(p, RECT{98, 71, 114, 90}, kBlack), 8);
  EXPECT_EQ(p.pixel(12, 100), kBlack);  // below the closed field: the window, not the list
  // The disabled push button: greyed text on a grey face.
  const DrawOperation* reread = p.findText(u"Re-read");
  ASSERT_NE(reread, nullptr);
  EXPECT_EQ(reread->colour, kGrayText);
  EXPECT_EQ(p.pixel(152, 12), RGB(204, 204, 204));

  EnableWindow(push, TRUE);
  EnableWindow(edit, FALSE);
  send(box, BM_SETCHECK, BST_CHECKED);
  p = picture();
  EXPECT_EQ(p.findText(u"Re-read")->colour, kBlack);
  EXPECT_EQ(p.pixel(152, 12), RGB(225, 225, 225));
  EXPECT_EQ(p.findText(u"LOWS")->colour, kGrayText);  // a disabled edit box greys its text
  EXPECT_GT(countColour(p, RECT{11, 11, 21, 21}, kBlack), 5);  // the tick
  ShowWindow(push, SW_HIDE);
  EXPECT_EQ(picture().findText(u"Re-read"), nullptr);
}

// An edit box subclassed as the program does: Enter is taken with the box's text.
WNDPROC g_previousEdit = nullptr;
std::vector<std::u16string> g_entered;

LRESULT enterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CHAR && wParam == 13) {
    WCHAR text[64];
    g_entered.emplace_back(text, static_cast<std::size_t>(GetWindowTextW(window, text, 64)));
    return 0;
  }
  return CallWindowProcW(g_previousEdit, window, message, wParam, lParam);
}

TEST_F(DrawingTest, UserActionsThroughMessagesAsOnWindows) {
  const HWND box = control(u"button", 0x8021, BS_AUTOCHECKBOX, 10, 10, 12, 12);
  const HWND plain = control(u"button", 0x800B, BS_CHECKBOX, 30, 10, 12, 12);
  const HWND narrow = control(u"Edit", 0x8047, WS_BORDER, 10, 50, 40, 16);
  const HWND scrolling = control(u"Edit", 0x8048, WS_BORDER | ES_AUTOHSCROLL, 10, 80, 30, 16);
  g_entered.clear();
  g_previousEdit = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(narrow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&enterProc)));

  // A click sent or posted: the automatic box toggles, the parent hears BN_CLICKED each time.
  send(box, BM_CLICK);
  EXPECT_EQ(send(box, BM_GETCHECK), BST_CHECKED);
  PostMessageW(box, BM_CLICK, 0, 0);
  PostMessageW(plain, BM_CLICK, 0, 0);
  PostMessageW(nullptr, WM_NULL, 0, 0);
  for (MSG msg{}; GetMessageW(&msg, nullptr, 0, 0) > 0 && msg.message != WM_NULL;) DispatchMessageW(&msg);
  EXPECT_EQ(send(box, BM_GETCHECK), BST_UNCHECKED);
  EXPECT_EQ(send(plain, BM_GETCHECK), BST_UNCHECKED);  // its owner toggles it
  EXPECT_EQ(g_commands, (std::vector<WPARAM>{MAKEWPARAM(0x8021, BN_CLICKED), MAKEWPARAM(0x8021, BN_CLICKED),
                                             MAKEWPARAM(0x800B, BN_CLICKED)}));
  EnableWindow(box, FALSE);
  send(box, BM_CLICK);
  EXPECT_EQ(g_commands.size(), 3u);
  EXPECT_EQ(send(box, BM_GETCHECK), BST_UNCHECKED);

  // Typing: backspace takes one off, Enter reaches the subclassed procedure, not the text. The
  // narrow box without ES_AUTOHSCROLL stops taking characters at its width.
  for (const char16_t c : std::u16string(u"lowx\b")) send(narrow, WM_CHAR, c);
  send(narrow, WM_CHAR, 13);
  for (int i = 0; i < 20; ++i) {
    send(narrow, WM_CHAR, u'W');
    send(scrolling, WM_CHAR, u'W');
  }
  send(narrow, WM_CHAR, 13);
  ASSERT_EQ(g_entered.size(), 2u);
  EXPECT_EQ(g_entered[0], u"low");
  EXPECT_LT(g_entered[1].size(), 6u);
  EXPECT_EQ(send(scrolling, WM_GETTEXTLENGTH), 20);
}

class PictureFileTest : public DrawingTest {
 protected:
  void SetUp() override {
    DrawingTest::SetUp();
    kvo::win32test::useManualClock();
    g_painter = [this](HDC dc) {
      const HBRUSH brush = CreateSolidBrush(colour_);
      const RECT all{0, 0, 300, 200};
      FillRect(dc, &all, brush);
      DeleteObject(brush);
    };
  }
  void TearDown() override {
    kvo::simtest::reset();
    DrawingTest::TearDown();
  }
  // The window's thread looks at its queue once, as its message loop does.
  void lookAtQueue() {
    PostMessageW(nullptr, WM_NULL, 0, 0);
    MSG msg{};
    ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
  }
  fs::path file() const { return folder_.path() / kvo::win32test::kWindowPictureFileName; }
  std::vector<std::uint8_t> written() const {
    const std::string bytes = coretest::readFile(file());
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
  }
  std::vector<std::uint8_t> shown() { return kvo::win32test::pngOf(picture()); }

  kvo::platformtest::TempFolder folder_;
  COLORREF colour_ = kRed;
};

TEST_F(PictureFileTest, WrittenWhenRepaintedAtMostOncePerSecond) {
  kvo::win32test::writeWindowPicturesTo(folder_.path());
  lookAtQueue();
  EXPECT_FALSE(fs::exists(file()));  // nothing painted yet
  repaint();
  lookAtQueue();
  const auto first = written();
  ASSERT_GT(first.size(), 24u);
  EXPECT_EQ(first, shown());
  // A PNG of the window's size: the signature, then the header's width and height.
  EXPECT_EQ(std::string(first.begin() + 1, first.begin() + 4), "PNG");
  EXPECT_EQ((first[18] << 8) | first[19], 300);
  EXPECT_EQ((first[22] << 8) | first[23], 200);

  colour_ = kLime;
  repaint();
  kvo::win32test::advanceClock(500ms);
  lookAtQueue();
  EXPECT_EQ(written(), first);  // not yet a second later
  kvo::win32test::advanceClock(500ms);
  lookAtQueue();
  EXPECT_EQ(written(), shown());
  EXPECT_NE(written(), first);

  // A control's change is a repaint too; nothing changed: nothing written.
  const HWND box = control(u"button", 1, BS_AUTOCHECKBOX, 10, 10, 12, 12);
  kvo::win32test::advanceClock(1s);
  lookAtQueue();
  EXPECT_EQ(written(), shown());
  // A repaint that shows what the file holds already is not written again.
  coretest::writeFile(file(), "as before");
  repaint();
  kvo::win32test::advanceClock(1s);
  lookAtQueue();
  EXPECT_EQ(coretest::readFile(file()), "as before");
  fs::remove(file());
  kvo::win32test::advanceClock(5s);
  lookAtQueue();
  EXPECT_FALSE(fs::exists(file()));
  send(box, BM_CLICK);
  lookAtQueue();
  EXPECT_EQ(written(), shown());
  EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(folder_.path()), fs::directory_iterator()),
            std::vector<fs::path>{file()});  // no temporary file left behind

  kvo::win32test::stopWindowPictures();
  fs::remove(file());
  repaint();
  kvo::win32test::advanceClock(5s);
  lookAtQueue();
  EXPECT_FALSE(fs::exists(file()));
}

TEST_F(PictureFileTest, TheWindowThreadWakesForAChangeFromAnotherThread) {
  kvo::win32test::writeWindowPicturesTo(folder_.path());
  const HWND edit = control(u"Edit", 0x8047, WS_BORDER, 10, 50, 60, 16);
  repaint();
  // A worker changes a control, as the program's run does; the window's thread, waiting in its
  // message loop, writes the new picture once it is due.
  bool changedFileSeen = false;
  std::thread worker([&] {
    std::string first;
    if (coretest::waitFor([&] { return fs::exists(file()); })) first = coretest::readFile(file());
    SetWindowTextW(edit, u"EDDM");
    kvo::win32test::advanceClock(1s);
    changedFileSeen = coretest::waitFor([&] { return coretest::readFile(file()) != first; });
    PostMessageW(main_, WM_APP, 0, 0);
  });
  for (MSG msg{}; GetMessageW(&msg, nullptr, 0, 0) > 0 && msg.message != WM_APP;) DispatchMessageW(&msg);
  worker.join();
  EXPECT_TRUE(changedFileSeen);
  EXPECT_EQ(written(), shown());
  EXPECT_NE(picture().findText(u"EDDM"), nullptr);
}

TEST_F(PictureFileTest, OnByItselfWhileTheSimulatorRunsFromAScenario) {
  coretest::writeFile(folder_.path() / kvo::simtest::kScenarioFileName,
                      R"({"userAircraft": {"latitude": 47.79, "longitude": 13.0}})");
  kvo::simtest::runByItself(folder_.path(), kvo::simtest::Clock::Manual);
  repaint();
  lookAtQueue();
  EXPECT_EQ(written(), shown());

  // A scripted simulator (the tests' mode) writes no picture.
  kvo::simtest::reset();
  fs::remove(file());
  repaint();
  kvo::win32test::advanceClock(2s);
  lookAtQueue();
  EXPECT_FALSE(fs::exists(file()));
}

}  // namespace
