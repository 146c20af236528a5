#pragma once
// Test hooks of the Win32 stand-in: read back what the program did to its windows and GDI
// objects, act as the user on controls, and put the stand-in back to its start state between
// tests. Program code never includes this header.

#include <chrono>
#include <cstdint>
#include <filesystem>
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

// The user picks an entry of a drop-down list: the selection changes, then the parent gets
// WM_COMMAND with CBN_SELCHANGE (CB_SETCURSEL sends none, as on Windows). An index out of range
// or a disabled list changes nothing and returns false. (A click is BM_CLICK; typing is
// WM_CHAR.)
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

// ---- what was drawn ----------------------------------------------------------------------------

enum class DrawKind { Fill, Line, Text };

struct DrawOperation {
  DrawKind kind;
  HWND window;          // the window whose painting (or look, for a control) it is
  RECT rect;            // Fill: the rectangle; Text: the text cell (left, top: the position);
                        // Line: the pixels' bounding box
  COLORREF colour;      // brush, pen or text colour
  std::vector<POINT> points;  // Line: the points given
  int penWidth;               // Line
  std::u16string text;        // Text
  bool opaque;                // Text: drawn with an opaque background
  COLORREF background;        // Text: the background colour (opaque only)
};

// The window's own painting that still shows, in drawing order, in its client coordinates: an
// operation is dropped when a later fill or opaque text covers it entirely; nothing is
// recorded for drawing outside the paint's update region.
std::vector<DrawOperation> drawOperations(HWND window);

// The window as a person sees it: its client area as painted, with its visible child windows
// over it, each control drawn by the stand-in as the system draws it (push buttons with their
// text, check boxes with their mark, drop-down lists with the selected text and an arrow, edit
// boxes with their text; disabled ones greyed). Controls ask their parent for colours
// (WM_CTLCOLOR...) on the calling thread.
struct WindowPicture {
  int width = 0;
  int height = 0;
  std::vector<COLORREF> pixels;  // row by row
  // Every text that shows, the window's and its controls', in the picture's coordinates.
  std::vector<DrawOperation> texts;

  // CLR_INVALID outside the picture.
  COLORREF pixel(int x, int y) const;
  // The first text that equals `text`; nullptr when none does.
  const DrawOperation* findText(std::u16string_view text) const;
};
std::optional<WindowPicture> windowPicture(HWND window);
// The picture as a PNG file's bytes, its texts with their positions and colours carried in the
// file (an iTXt chunk "Texts": one line "<x> <y> <colour as 0xBBGGRR> <text>" per text).
std::vector<std::uint8_t> pngOf(const WindowPicture& picture);
// A picture read back from PNG bytes (pngOf's, or window.png): its pixels and, from the texts
// chunk, each text with its position (rect.left, rect.top) and colour; nullopt for bytes that
// are no PNG.
std::optional<WindowPicture> pictureFromPng(const std::vector<std::uint8_t>& png);

// ---- window.png --------------------------------------------------------------------------------
// The first top-level window's picture is written as window.png (temporary file, then rename)
// after it changed (a paint ended, a control changed), at most once a second by the stand-in's
// clock, by the window's thread when it next looks at its message queue (GetMessageW also wakes
// up for a write that comes due). Automatically on while the stand-in simulator runs by itself
// from a scenario file (the program's default): into the scenario's folder, the working folder.

inline constexpr const char* kWindowPictureFileName = "window.png";
// Writes the pictures into the folder, whatever the simulator does.
void writeWindowPicturesTo(const std::filesystem::path& folder);
// Writes none, whatever the simulator does.
void stopWindowPictures();
// The automatic switch again, nothing waiting to be written, the real clock.
void resetWindowPictures();

// The stand-in's clock (picture throttling) stands still until advanced.
void useManualClock();
void advanceClock(std::chrono::milliseconds duration);

// ---- window input --------------------------------------------------------------------------------
// The hand of a test on a program that runs as a process of its own: while the stand-in
// simulator runs by itself from a scenario file, the thread of the first top-level window looks
// every 100 ms (stand-in clock) for window-input.txt in the scenario's folder, the working
// folder. Each line is one message, posted to the window (control id 0) or to its child control
// with that id:  <control id> <message> <wParam> [<lParam>]  (numbers decimal or 0x-hex). Only
// messages with plain numbers for parameters are taken: WM_CHAR, WM_KEYDOWN, WM_COMMAND,
// WM_CLOSE, BM_CLICK, CB_SETCURSEL; other lines are reported on standard error and skipped. The
// file is removed when its messages are posted: a writer puts a file in place by renaming it,
// and the next one only after the last is gone. Only a regular file is read (anything else under
// the name, a FIFO or a link, is reported once and left alone), and of it only the whole lines
// within its first kMaxWindowInputBytes; the lines after them are dropped with a report.

inline constexpr const char* kWindowInputFileName = "window-input.txt";
inline constexpr std::size_t kMaxWindowInputBytes = 64 * 1024;
// Reads the input file from the folder, whatever the simulator does.
void readWindowInputFrom(const std::filesystem::path& folder);
// The automatic switch again.
void resetWindowInput();

// ---- named mutex -------------------------------------------------------------------------------

// The lock file that stands for the named mutex under the current environment.
std::string mutexLockPath(LPCWSTR name);

}  // namespace kvo::win32test
