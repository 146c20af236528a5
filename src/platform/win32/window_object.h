#pragma once
// The in-memory window object behind an HWND, shared by the window, control and test-hook code
// of the stand-in. Program code never includes this header.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/win32/win32.h"

namespace kvo::win32impl {

// The predefined control classes get built-in behaviour; any other class name is kept as given.
enum class ControlKind { None, Button, Edit, ComboBox, Static };

// Button kinds by the low bits of the style.
constexpr DWORD kButtonTypeMask = 0x000F;
constexpr DWORD kButtonRadio = 0x0004;
constexpr DWORD kButtonThreeState = 0x0005;
constexpr DWORD kButtonAutoThreeState = 0x0006;
constexpr DWORD kButtonAutoRadio = 0x0009;

// Check boxes and radio buttons have a check state; push buttons have none.
inline bool isCheckable(DWORD style) {
  switch (style & kButtonTypeMask) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case kButtonRadio:
    case kButtonThreeState:
    case kButtonAutoThreeState:
    case kButtonAutoRadio:
      return true;
    default:
      return false;
  }
}

inline bool isThreeState(DWORD style) {
  const DWORD type = style & kButtonTypeMask;
  return type == kButtonThreeState || type == kButtonAutoThreeState;
}

// One InvalidateRect call as it arrived.
struct Invalidation {
  RECT rect;
  bool wholeClient;  // nullptr rectangle: the whole client area at the time of the call
  bool erase;
};

class Canvas;

}  // namespace kvo::win32impl

// Fields fixed at creation are read without a lock; everything that changes afterwards is
// guarded by `mutex` (window state) or `invalidationMutex` (the repaint record, which any
// thread may add to). Window procedures are never called with either lock held.
struct HWND__ {
  std::u16string className;
  kvo::win32impl::ControlKind kind = kvo::win32impl::ControlKind::None;
  HWND parent = nullptr;  // the parent of a child window, the owner of a top-level one
  bool child = false;
  int id = 0;             // child-window id (menuOrId of a child)
  HINSTANCE instance = nullptr;
  std::thread::id ownerThread;  // the creating thread, which will own the window's messages
  WNDPROC builtinProcedure = nullptr;  // the class procedure of a predefined control
  std::uint64_t serial = 0;     // creation order among all windows

  mutable std::mutex mutex;
  DWORD style = 0;
  DWORD exStyle = 0;   // WS_EX_TOPMOST follows SetWindowPos
  bool updatePending = false;  // invalidated and not yet painted: GetMessageW makes a WM_PAINT
  std::vector<RECT> updateRects;  // the update region (client coordinates) as a list of pieces
  bool eraseNeeded = false;       // an invalidation of the region asked for erasing
  RECT rect{};  // position and size in the parent's client coordinates (screen for top-level)
  std::u16string text;
  WNDPROC procedure = nullptr;  // the current (possibly subclassed) procedure
  LONG_PTR userData = 0;
  UINT check = BST_UNCHECKED;
  std::vector<std::u16string> items;  // combo-box entries in list order
  int selection = -1;                 // combo-box selection, -1 for none
  bool destroying = false;

  std::vector<HWND> children;  // creation order; guarded by the window registry's lock

  mutable std::mutex invalidationMutex;
  std::vector<kvo::win32impl::Invalidation> invalidations;

  // The image of the client area with what was drawn into it; guarded by the drawing lock
  // (canvas.h), made at the first paint.
  std::shared_ptr<kvo::win32impl::Canvas> canvas;
};

namespace kvo::win32impl {

// The live window behind a handle, or nullptr for a destroyed or unknown one. The shared
// pointer keeps the object alive while a caller works with it, even if another thread
// destroys the window meanwhile.
std::shared_ptr<HWND__> findWindow(HWND window);

// The direct children of a window in creation order (a snapshot).
std::vector<HWND> childrenOf(HWND window);

// A live window of the thread (within the filter: the window itself or one of its descendants;
// nullptr: any) whose area was invalidated and not yet painted; nullptr when there is none.
HWND windowNeedingPaint(std::thread::id thread, HWND filter);
// Adds the rectangle (client coordinates; the whole client area when `wholeClient`) to the
// window's update region and wakes its thread to paint it. Not an InvalidateRect call: the test
// record of those is left alone.
void addToUpdateRegion(HWND__& object, const RECT& rect, bool wholeClient, bool erase);
// The window's update region, taken: it counts as painted (BeginPaint). `erase` tells whether
// an invalidation asked for erasing.
std::vector<RECT> takeUpdateRegion(HWND window, bool& erase);
// The window's client area: 0, 0 and its own size (no frame is modelled); empty for a window
// that is gone.
RECT clientRect(HWND window);
// The live top-level window created first; nullptr when there is none.
HWND firstTopLevelWindow();
// `window` is `ancestor` or lies below it.
bool isSelfOrDescendant(HWND window, HWND ancestor);

// ---- window classes (window_class.cpp) ----
struct RegisteredClass {
  std::u16string name;
  UINT style = 0;
  WNDPROC procedure = nullptr;
  HINSTANCE instance = nullptr;
  HICON icon = nullptr;
  HICON smallIcon = nullptr;
  HCURSOR cursor = nullptr;
  HBRUSH background = nullptr;
};
// The registered class of the name (ASCII case ignored); nullptr when there is none.
std::shared_ptr<const RegisteredClass> findRegisteredClass(std::u16string_view name);

// ---- message queues (message_queue.cpp) ----
// Wakes the thread's GetMessageW so that it looks for work again (a window of it needs paint).
void wakeThread(std::thread::id thread);
// Forgets the messages posted to a window that is being destroyed.
void dropPostedMessages(HWND window);
// Wakes every thread's GetMessageW (the stand-in's clock moved).
void wakeAllThreads();

}  // namespace kvo::win32impl
