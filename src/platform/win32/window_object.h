#pragma once
// The in-memory window object behind an HWND, shared by the window, control and test-hook code
// of the stand-in. Program code never includes this header.

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/win32.h"

namespace kvo::win32impl {

// The predefined control classes get built-in behaviour; any other class name is kept as given.
enum class ControlKind { None, Button, Edit, ComboBox, Static };

// One InvalidateRect call as it arrived.
struct Invalidation {
  RECT rect;
  bool wholeClient;  // nullptr rectangle: the whole client area at the time of the call
  bool erase;
};

}  // namespace kvo::win32impl

// Fields fixed at creation are read without a lock; everything that changes afterwards is
// guarded by `mutex` (window state) or `invalidationMutex` (the repaint record, which any
// thread may add to). Window procedures are never called with either lock held.
struct HWND__ {
  std::u16string className;
  kvo::win32impl::ControlKind kind = kvo::win32impl::ControlKind::None;
  DWORD exStyle = 0;
  HWND parent = nullptr;  // the parent of a child window, the owner of a top-level one
  bool child = false;
  int id = 0;             // child-window id (menuOrId of a child)
  HINSTANCE instance = nullptr;
  std::thread::id ownerThread;  // the creating thread, which will own the window's messages
  WNDPROC builtinProcedure = nullptr;  // the class procedure of a predefined control

  mutable std::mutex mutex;
  DWORD style = 0;
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
};

namespace kvo::win32impl {

// The live window behind a handle, or nullptr for a destroyed or unknown one. The shared
// pointer keeps the object alive while a caller works with it, even if another thread
// destroys the window meanwhile.
std::shared_ptr<HWND__> findWindow(HWND window);

// The direct children of a window in creation order (a snapshot).
std::vector<HWND> childrenOf(HWND window);

}  // namespace kvo::win32impl
