#pragma once
// Test hooks of the Win32 stand-in: read back what the program did to its windows and GDI
// objects, act as the user on controls, and put the stand-in back to its start state between
// tests. Program code never includes this header.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/win32.h"

namespace kvo::win32test {

// ---- windows ---------------------------------------------------------------------------------

struct InvalidationRecord {
  RECT rect;          // the rectangle given, or the client area for a nullptr rectangle
  bool wholeClient;   // InvalidateRect was called with nullptr
  bool erase;
};

// Every InvalidateRect on the window since it was created or last cleared, in call order.
std::vector<InvalidationRecord> invalidations(HWND window);
void clearInvalidations(HWND window);

struct WindowInfo {
  std::u16string className;  // as given to CreateWindowExW
  std::u16string text;
  DWORD style;               // WS_DISABLED follows EnableWindow
  DWORD exStyle;
  RECT rect;                 // x, y, x + width, y + height as created
  HWND parent;               // parent of a child, owner of a top-level window
  int id;                    // child id, 0 for a top-level window
  bool enabled;
  UINT check;                // BM_GETCHECK state of a button
};
std::optional<WindowInfo> windowInfo(HWND window);

// Direct children in creation order.
std::vector<HWND> children(HWND window);

// Combo box entries and selection (-1 for none); empty / -1 for any other window.
std::vector<std::u16string> comboItems(HWND combo);
int comboSelection(HWND combo);

// The user clicks a button: an automatic check box toggles, then the parent gets WM_COMMAND
// with BN_CLICKED. Returns the parent's result, 0 when there is no parent.
LRESULT clickButton(HWND button);
// The user picks an entry of a drop-down list: the selection changes, then the parent gets
// WM_COMMAND with CBN_SELCHANGE. An index out of range changes nothing and returns false.
bool selectComboItem(HWND combo, int index);

// Number of live windows.
std::size_t windowCount();
// Forgets every window without sending messages (a test's fresh start).
void resetWindows();

// The window has an invalidated area that no WM_PAINT has painted yet.
bool needsPaint(HWND window);

// ---- window classes and resources ------------------------------------------------------------

struct ClassInfo {
  std::u16string name;
  UINT style;
  WNDPROC procedure;
  HINSTANCE instance;
  HICON icon;
  HICON smallIcon;
  HCURSOR cursor;
  HBRUSH background;
};
std::optional<ClassInfo> registeredClass(std::u16string_view name);
// Forgets every registered class.
void resetClasses();

struct IconInfo {
  int id;       // the resource id (32512 for the system's application icon and arrow cursor)
  bool system;  // loaded with a null instance
  int width;
  int height;
};
// What an icon or cursor handle stands for; nullopt for an unknown handle.
std::optional<IconInfo> iconInfo(HICON icon);
// The module has no resources again.
void resetResources();

// ---- the calling thread's message queue ------------------------------------------------------

// Messages posted to the calling thread (or its windows) and not yet taken.
std::size_t postedMessageCount();
// Takes the first posted message of the window (nullptr: any) with that number out of the
// calling thread's queue, without dispatching it; nullopt when there is none.
std::optional<MSG> peekPostedMessage(HWND window, UINT message);
// PostQuitMessage was called on this thread and its WM_QUIT not yet taken.
bool quitPosted(int* exitCode = nullptr);
// Empties the calling thread's queue, a pending quit included.
void resetMessageQueue();

// ---- GDI objects -------------------------------------------------------------------------------

enum class GdiKind { Brush, Pen, Font };

struct GdiRecord {
  GdiKind kind;
  COLORREF colour;
  int width;      // pens: the width asked for
  int style;      // pens: PS_* style; brushes: 0 solid, 1 hollow
  bool stock;     // from GetStockObject: shared and never deleted
  int stockIndex; // GetStockObject index, -1 for created objects
};
// The record of a live object; nullopt for a deleted or unknown handle.
std::optional<GdiRecord> gdiObject(HGDIOBJ object);
// Number of created (non-stock) objects not yet deleted: a leak check.
std::size_t liveGdiObjectCount();

// ---- named mutex -------------------------------------------------------------------------------

// The lock file that stands for the named mutex under the current environment.
std::string mutexLockPath(LPCWSTR name);

}  // namespace kvo::win32test
