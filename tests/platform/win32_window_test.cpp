// Windows, controls, subclassing and the repaint record of the Win32 stand-in.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/win32/testing.h"
#include "platform/win32/win32.h"

namespace {

using kvo::win32test::WindowInfo;

HMENU idOf(int id) { return reinterpret_cast<HMENU>(static_cast<std::intptr_t>(id)); }

std::u16string textOf(HWND window) {
  WCHAR buffer[256];
  const int length = GetWindowTextW(window, buffer, 256);
  return std::u16string(buffer, static_cast<std::size_t>(length));
}

LRESULT send(HWND window, UINT message, WPARAM wParam = 0, const void* lParam = nullptr) {
  return SendMessageW(window, message, wParam, reinterpret_cast<LPARAM>(lParam));
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kvo::win32test::resetWindows();
    main_ = CreateWindowExW(0, u"Ambrelvane", u"Ambrelvane", WS_CAPTION | WS_SYSMENU, 400, 20, 880, 516,
                            nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(main_, nullptr);
  }
  void TearDown() override { kvo::win32test::resetWindows(); }

  HWND child(const char16_t* className, int id, DWORD style = 0, const char16_t* text = u"") {
    return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, 5, 114, 105, 80, main_, idOf(id),
                           nullptr, nullptr);
  }

  HWND main_ = nullptr;
};

TEST_F(WindowTest, ChildrenAreFoundByIdAndDieWithTheirParent) {
  const HWND combo = child(u"ComboBox", 0x8016, CBS_DROPDOWNLIST);
  const HWND edit = child(u"Edit", 0x8014, WS_BORDER);
  const HWND box = child(u"button", 0x801D, BS_CHECKBOX);
  ASSERT_NE(combo, nullptr);
  EXPECT_EQ(GetDlgItem(main_, 0x8014), edit);
  EXPECT_EQ(GetDlgItem(main_, 0x801D), box);
  EXPECT_EQ((std::vector<HWND>{combo, edit, box}), kvo::win32test::children(main_));

  SetLastError(0);
  EXPECT_EQ(GetDlgItem(main_, 0x9999), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CONTROL_ID_NOT_FOUND);

  const auto info = kvo::win32test::windowInfo(edit);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->className, u"Edit");
  EXPECT_EQ(info->parent, main_);
  EXPECT_EQ(info->id, 0x8014);
  EXPECT_EQ(info->rect.left, 5);
  EXPECT_EQ(info->rect.bottom, 114 + 80);

  EXPECT_TRUE(DestroyWindow(main_));
  EXPECT_FALSE(IsWindow(main_));
  EXPECT_FALSE(IsWindow(edit));
  EXPECT_EQ(kvo::win32test::windowCount(), 0u);
  // A stale handle is recognised, not followed.
  EXPECT_EQ(GetDlgItem(main_, 0x8014), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(SetWindowTextW(edit, u"x"));
  EXPECT_EQ(send(edit, WM_GETTEXTLENGTH), 0);
}

TEST_F(WindowTest, DestroyingAChildTakesItOutOfItsParent) {
  const HWND first = child(u"Static", 1);
  const HWND second = child(u"Static", 2);
  EXPECT_TRUE(DestroyWindow(first));
  EXPECT_EQ(GetDlgItem(main_, 1), nullptr);
  EXPECT_EQ(kvo::win32test::children(main_), std::vector<HWND>{second});
  EXPECT_FALSE(DestroyWindow(first));
}

TEST_F(WindowTest, ChildWithoutValidParentIsRefused) {
  SetLastError(0);
  EXPECT_EQ(CreateWindowExW(0, u"Edit", u"", WS_CHILD, 0, 0, 1, 1, nullptr, idOf(1), nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_TLW_WITH_WSCHILD);
  const HWND gone = child(u"Static", 3);
  DestroyWindow(gone);
  EXPECT_EQ(CreateWindowExW(0, u"Edit", u"", WS_CHILD, 0, 0, 1, 1, gone, idOf(1), nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowTest, WindowTextFollowsGetTextRules) {
  const HWND edit = child(u"Edit", 7, 0, u"initial");
  EXPECT_EQ(textOf(edit), u"initial");
  EXPECT_TRUE(SetWindowTextW(edit, u"KLAX"));
  EXPECT_EQ(send(edit, WM_GETTEXTLENGTH), 4);

  // A short buffer gets as much as fits and a NUL; the count excludes the NUL.
  WCHAR small[3] = {u'?', u'?', u'?'};
  EXPECT_EQ(GetWindowTextW(edit, small, 3), 2);
  EXPECT_EQ(std::u16string(small), u"KL");
  EXPECT_EQ(send(edit, WM_GETTEXT, 0, small), 0);

  EXPECT_TRUE(SetWindowTextW(edit, nullptr));
  EXPECT_EQ(textOf(edit), u"");
  // Text works on windows of any class through DefWindowProcW.
  EXPECT_TRUE(SetWindowTextW(main_, u"title"));
  EXPECT_EQ(textOf(main_), u"title");
}

TEST_F(WindowTest, CheckBoxesKeepTheirStatePushButtonsHaveNone) {
  const HWND box = child(u"button", 0x800B, BS_CHECKBOX);
  const HWND push = child(u"button", 0x8046, BS_DEFPUSHBUTTON, u"Re-read");
  EXPECT_EQ(IsDlgButtonChecked(main_, 0x800B), BST_UNCHECKED);
  EXPECT_TRUE(CheckDlgButton(main_, 0x800B, BST_CHECKED));
  EXPECT_EQ(IsDlgButtonChecked(main_, 0x800B), BST_CHECKED);
  EXPECT_EQ(send(box, BM_GETCHECK), BST_CHECKED);
  send(box, BM_SETCHECK, BST_UNCHECKED);
  EXPECT_EQ(IsDlgButtonChecked(main_, 0x800B), BST_UNCHECKED);

  EXPECT_TRUE(CheckDlgButton(main_, 0x8046, BST_CHECKED));
  EXPECT_EQ(send(push, BM_GETCHECK), BST_UNCHECKED);
  EXPECT_FALSE(CheckDlgButton(main_, 0x1234, BST_CHECKED));
  EXPECT_EQ(IsDlgButtonChecked(main_, 0x1234), BST_UNCHECKED);
}

TEST_F(WindowTest, EnableWindowReportsThePreviousDisabledState) {
  const HWND edit = child(u"Edit", 1, WS_DISABLED);
  EXPECT_FALSE(IsWindowEnabled(edit));
  EXPECT_NE(EnableWindow(edit, TRUE), FALSE);  // was disabled
  EXPECT_TRUE(IsWindowEnabled(edit));
  EXPECT_EQ(EnableWindow(edit, TRUE), FALSE);  // was enabled
  EXPECT_EQ(EnableWindow(edit, FALSE), FALSE);
  EXPECT_FALSE(kvo::win32test::windowInfo(edit)->enabled);
  EXPECT_NE(kvo::win32test::windowInfo(edit)->style & WS_DISABLED, 0u);
}

TEST_F(WindowTest, ComboBoxListAndSelection) {
  const HWND combo = child(u"ComboBox", 0x8032, CBS_DROPDOWNLIST);
  EXPECT_EQ(send(combo, CB_GETCURSEL), CB_ERR);
  EXPECT_EQ(send(combo, CB_ADDSTRING, 0, u"10"), 0);
  EXPECT_EQ(send(combo, CB_ADDSTRING, 0, u"20"), 1);
  EXPECT_EQ(send(combo, CB_ADDSTRING, 0, u"40"), 2);
  EXPECT_EQ(send(combo, CB_ADDSTRING, 0, nullptr), CB_ERR);
  EXPECT_EQ(send(combo, CB_GETCOUNT), 3);

  EXPECT_EQ(send(combo, CB_SETCURSEL, 2), 2);
  EXPECT_EQ(send(combo, CB_GETCURSEL), 2);
  EXPECT_EQ(textOf(combo), u"40");
  EXPECT_EQ(send(combo, CB_GETLBTEXTLEN, 1), 2);
  WCHAR item[256];
  EXPECT_EQ(send(combo, CB_GETLBTEXT, 1, item), 2);
  EXPECT_EQ(std::u16string(item), u"20");
  EXPECT_EQ(kvo::win32test::comboItems(combo), (std::vector<std::u16string>{u"10", u"20", u"40"}));

  // Out of range: CB_ERR and no selection left; -1 clears and reports CB_ERR too.
  EXPECT_EQ(send(combo, CB_SETCURSEL, 3), CB_ERR);
  EXPECT_EQ(send(combo, CB_GETCURSEL), CB_ERR);
  EXPECT_EQ(textOf(combo), u"");
  send(combo, CB_SETCURSEL, 0);
  EXPECT_EQ(send(combo, CB_SETCURSEL, static_cast<WPARAM>(-1)), CB_ERR);
  EXPECT_EQ(kvo::win32test::comboSelection(combo), -1);
  EXPECT_EQ(send(combo, CB_GETLBTEXT, 3, item), CB_ERR);
  EXPECT_EQ(send(combo, CB_GETLBTEXT, static_cast<WPARAM>(-1), item), CB_ERR);
  EXPECT_EQ(send(combo, CB_GETLBTEXTLEN, 5), CB_ERR);

  send(combo, CB_SETCURSEL, 1);
  EXPECT_EQ(send(combo, CB_RESETCONTENT), 0);
  EXPECT_EQ(send(combo, CB_GETCOUNT), 0);
  EXPECT_EQ(send(combo, CB_GETCURSEL), CB_ERR);
  EXPECT_EQ(send(combo, CB_SETCURSEL, 0), CB_ERR);
}

// A subclassed edit box as the program writes them: Enter is taken, the rest goes on.
WNDPROC g_previousEditProc = nullptr;
int g_enterCount = 0;

LRESULT enterBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CHAR && wParam == 13) {
    ++g_enterCount;
    return 0;
  }
  return CallWindowProcW(g_previousEditProc, window, message, wParam, lParam);
}

TEST_F(WindowTest, SubclassedEditBoxTakesEnterAndPassesTheRest) {
  const HWND edit = child(u"Edit", 0x8006, WS_BORDER);
  g_enterCount = 0;
  g_previousEditProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&enterBoxProc)));
  ASSERT_NE(g_previousEditProc, nullptr);  // the built-in edit behaviour
  EXPECT_EQ(GetWindowLongPtrW(edit, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&enterBoxProc));

  for (const char16_t c : std::u16string(u"dlh4x")) {
    send(edit, WM_CHAR, c);
  }
  send(edit, WM_CHAR, u'\b');
  send(edit, WM_CHAR, 13);
  EXPECT_EQ(g_enterCount, 1);
  EXPECT_EQ(textOf(edit), u"dlh4");  // Enter did not reach the box
  EXPECT_TRUE(SetWindowTextW(edit, u"DLH4X"));
  EXPECT_EQ(textOf(edit), u"DLH4X");

  // Putting the old procedure back ends the subclassing.
  SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_previousEditProc));
  send(edit, WM_CHAR, 13);
  EXPECT_EQ(g_enterCount, 1);
}

TEST_F(WindowTest, UserDataAndUnknownIndex) {
  EXPECT_EQ(SetWindowLongPtrW(main_, GWLP_USERDATA, 42), 0);
  EXPECT_EQ(SetWindowLongPtrW(main_, GWLP_USERDATA, 43), 42);
  EXPECT_EQ(GetWindowLongPtrW(main_, GWLP_USERDATA), 43);
  SetLastError(0);
  EXPECT_EQ(GetWindowLongPtrW(main_, -999), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
}

struct Heard {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Heard> g_heard;

LRESULT recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  g_heard.push_back(Heard{window, message, wParam, lParam});
  return message == WM_COMMAND ? 0 : DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(WindowTest, DestroyNotifiesParentBeforeChildren) {
  const HWND edit = child(u"Edit", 1);
  SetWindowLongPtrW(main_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&recordingProc));
  SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&recordingProc));
  g_heard.clear();
  // DefWindowProcW closes a window by destroying it.
  send(main_, WM_CLOSE);
  ASSERT_EQ(g_heard.size(), 3u);
  EXPECT_EQ(g_heard[0].message, WM_CLOSE);
  EXPECT_EQ(g_heard[1].window, main_);
  EXPECT_EQ(g_heard[1].message, WM_DESTROY);
  EXPECT_EQ(g_heard[2].window, edit);
  EXPECT_EQ(g_heard[2].message, WM_DESTROY);
  EXPECT_FALSE(IsWindow(main_));
}

TEST_F(WindowTest, UserActionsNotifyTheParent) {
  const HWND autoBox = child(u"BUTTON", 0x8021, BS_AUTOCHECKBOX);
  const HWND plainBox = child(u"BUTTON", 0x8033, BS_CHECKBOX);
  const HWND combo = child(u"COMBOBOX", 0x8016, CBS_DROPDOWNLIST);
  send(combo, CB_ADDSTRING, 0, u"MSFS 2020");
  send(combo, CB_ADDSTRING, 0, u"MSFS 2024");
  SetWindowLongPtrW(main_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&recordingProc));
  g_heard.clear();

  send(autoBox, BM_CLICK);
  EXPECT_EQ(send(autoBox, BM_GETCHECK), BST_CHECKED);
  send(plainBox, BM_CLICK);
  EXPECT_EQ(send(plainBox, BM_GETCHECK), BST_UNCHECKED);  // the owner toggles it
  EXPECT_TRUE(kvo::win32test::selectComboItem(combo, 1));
  EXPECT_FALSE(kvo::win32test::selectComboItem(combo, 2));
  EnableWindow(plainBox, FALSE);
  send(plainBox, BM_CLICK);

  ASSERT_EQ(g_heard.size(), 3u);
  EXPECT_EQ(g_heard[0].message, WM_COMMAND);
  EXPECT_EQ(g_heard[0].wParam, MAKEWPARAM(0x8021, BN_CLICKED));
  EXPECT_EQ(g_heard[0].lParam, reinterpret_cast<LPARAM>(autoBox));
  EXPECT_EQ(LOWORD(g_heard[1].wParam), 0x8033);
  EXPECT_EQ(HIWORD(g_heard[2].wParam), CBN_SELCHANGE);
  EXPECT_EQ(LOWORD(g_heard[2].wParam), 0x8016);
  EXPECT_EQ(send(combo, CB_GETCURSEL), 1);
}

TEST_F(WindowTest, InvalidationsAreRecordedFromAnyThread) {
  const RECT status{0, 28, 880, 112};
  const RECT message{0, 448, 880, 476};
  constexpr int kPerThread = 2000;
  auto invalidateMany = [this](const RECT& rect) {
    for (int i = 0; i < kPerThread; ++i) {
      InvalidateRect(main_, &rect, TRUE);
    }
  };
  std::thread first(invalidateMany, status);
  std::thread second(invalidateMany, message);
  first.join();
  second.join();
  InvalidateRect(main_, nullptr, FALSE);

  const auto records = kvo::win32test::invalidations(main_);
  ASSERT_EQ(records.size(), 2u * kPerThread + 1);
  int statusCount = 0;
  for (std::size_t i = 0; i + 1 < records.size(); ++i) {
    EXPECT_TRUE(records[i].erase);
    EXPECT_FALSE(records[i].wholeClient);
    statusCount += records[i].rect.top == 28 ? 1 : 0;
  }
  EXPECT_EQ(statusCount, kPerThread);
  EXPECT_TRUE(records.back().wholeClient);
  EXPECT_FALSE(records.back().erase);
  EXPECT_EQ(records.back().rect.right, 880);
  EXPECT_EQ(records.back().rect.bottom, 516);

  kvo::win32test::clearInvalidations(main_);
  EXPECT_TRUE(kvo::win32test::invalidations(main_).empty());
  EXPECT_FALSE(InvalidateRect(nullptr, &status, TRUE));
}

TEST(GdiObjects, RecordsStockSingletonsAndDeletion) {
  const std::size_t before = kvo::win32test::liveGdiObjectCount();
  const HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  const HPEN pen = CreatePen(PS_SOLID, 2, 0xFFFFFF);
  const auto brushRecord = kvo::win32test::gdiObject(red);
  ASSERT_TRUE(brushRecord);
  EXPECT_EQ(brushRecord->kind, kvo::win32test::GdiKind::Brush);
  EXPECT_EQ(brushRecord->colour, 0x0000FFu);
  const auto penRecord = kvo::win32test::gdiObject(pen);
  ASSERT_TRUE(penRecord);
  EXPECT_EQ(penRecord->kind, kvo::win32test::GdiKind::Pen);
  EXPECT_EQ(penRecord->width, 2);
  EXPECT_EQ(penRecord->colour, 0xFFFFFFu);
  EXPECT_EQ(kvo::win32test::liveGdiObjectCount(), before + 2);

  const HGDIOBJ black = GetStockObject(BLACK_BRUSH);
  EXPECT_EQ(GetStockObject(BLACK_BRUSH), black);
  EXPECT_NE(GetStockObject(DC_BRUSH), black);
  EXPECT_EQ(GetStockObject(9999), nullptr);
  EXPECT_TRUE(kvo::win32test::gdiObject(black)->stock);
  EXPECT_TRUE(DeleteObject(black));
  EXPECT_TRUE(kvo::win32test::gdiObject(black));  // stock objects outlive DeleteObject

  EXPECT_TRUE(DeleteObject(red));
  EXPECT_FALSE(kvo::win32test::gdiObject(red));
  EXPECT_FALSE(DeleteObject(red));
  EXPECT_TRUE(DeleteObject(pen));
  EXPECT_EQ(kvo::win32test::liveGdiObjectCount(), before);
}

}  // namespace
