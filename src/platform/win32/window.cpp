// Windows and child controls as objects in memory. A window's handle is the address of its
// object; the registry maps handles to live objects, so a stale handle is recognised instead of
// being followed. Messages sent here run on the calling thread; the per-thread message queue
// will route cross-thread sends to the owner thread.

#include <algorithm>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/win32/canvas.h"
#include "platform/win32/testing.h"
#include "platform/win32/win32.h"
#include "platform/win32/window_object.h"

namespace kvo::win32impl {
namespace {

struct WindowRegistry {
  std::mutex mutex;
  std::unordered_map<HWND, std::shared_ptr<HWND__>> windows;
  std::uint64_t nextSerial = 1;
};

// Function-local so that windows may be created during other globals' construction.
WindowRegistry& registry() {
  static WindowRegistry instance;
  return instance;
}

std::u16string textFrom(LPCWSTR text) {
  if (text == nullptr) {
    return {};
  }
  return std::u16string(text);
}

// WM_GETTEXT / CB_GETLBTEXT copy: at most capacity - 1 characters and a NUL; returns the count
// copied without the NUL.
LRESULT copyText(const std::u16string& source, LPWSTR target, std::size_t capacity) {
  if (target == nullptr || capacity == 0) {
    return 0;
  }
  const std::size_t count = std::min(source.size(), capacity - 1);
  std::copy_n(source.begin(), count, target);
  target[count] = u'\0';
  return static_cast<LRESULT>(count);
}

bool equalsAsciiNoCase(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t c = a[i];
    if (c >= u'a' && c <= u'z') {
      c = static_cast<char16_t>(c - u'a' + u'A');
    }
    char d = b[i];
    if (d >= 'a' && d <= 'z') {
      d = static_cast<char>(d - 'a' + 'A');
    }
    if (c != static_cast<char16_t>(d)) {
      return false;
    }
  }
  return true;
}

// Class names are case-insensitive, as the program writes "button", "Edit" and "ComboBox".
ControlKind kindOfClass(std::u16string_view name) {
  if (equalsAsciiNoCase(name, "BUTTON")) return ControlKind::Button;
  if (equalsAsciiNoCase(name, "EDIT")) return ControlKind::Edit;
  if (equalsAsciiNoCase(name, "COMBOBOX")) return ControlKind::ComboBox;
  if (equalsAsciiNoCase(name, "STATIC")) return ControlKind::Static;
  return ControlKind::None;
}

constexpr std::size_t kMostUpdatePieces = 32;  // beyond this the update region is one rectangle

// A click as the button takes it: an automatic button changes its state, then the parent hears
// BN_CLICKED. A disabled button takes no click.
LRESULT clickButton(HWND window) {
  auto object = findWindow(window);
  if (!object) {
    return 0;
  }
  {
    std::lock_guard lock(object->mutex);
    if ((object->style & WS_DISABLED) != 0) {
      return 0;
    }
    const DWORD type = object->style & kButtonTypeMask;
    if (type == BS_AUTOCHECKBOX) {
      object->check = object->check == BST_UNCHECKED ? BST_CHECKED : BST_UNCHECKED;
    } else if (type == kButtonAutoThreeState) {
      object->check = (object->check + 1) % 3;
    } else if (type == kButtonAutoRadio) {
      object->check = BST_CHECKED;
    }
  }
  pictureChanged();
  if (object->child && object->parent != nullptr) {
    SendMessageW(object->parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(object->id), BN_CLICKED),
                 reinterpret_cast<LPARAM>(window));
  }
  return 0;
}

LRESULT buttonProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == BM_CLICK) {
    return clickButton(window);
  }
  if (message == BM_GETCHECK || message == BM_SETCHECK) {
    auto object = findWindow(window);
    if (!object) {
      return 0;
    }
    {
      std::lock_guard lock(object->mutex);
      if (!isCheckable(object->style)) {
        return 0;  // push buttons have no check state
      }
      if (message == BM_GETCHECK) {
        return object->check;
      }
      if (isThreeState(object->style)) {
        object->check = static_cast<UINT>(std::min<WPARAM>(wParam, 2));
      } else {
        object->check = wParam == BST_UNCHECKED ? BST_UNCHECKED : BST_CHECKED;
      }
    }
    pictureChanged();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Whether a typed text fits the edit box: without ES_AUTOHSCROLL the box takes no character
// that would not show (object locked).
bool fitsEditBox(const HWND__& object, const std::u16string& text) {
  if ((object.style & ES_AUTOHSCROLL) != 0) {
    return true;
  }
  std::lock_guard lock(drawMutex());
  return textWidth(text) <= editTextRoom(object.style, object.rect.right - object.rect.left);
}

// A single-line edit box: typed characters go to the end of the text (no caret model),
// backspace takes the last one off, Enter and other control characters are not text.
LRESULT editProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CHAR) {
    auto object = findWindow(window);
    if (!object) {
      return 0;
    }
    const auto character = static_cast<char16_t>(wParam);
    {
      std::lock_guard lock(object->mutex);
      if (character == u'\b' && !object->text.empty()) {
        object->text.pop_back();
      } else if (character >= 0x20 && fitsEditBox(*object, object->text + character)) {
        object->text.push_back(character);
      } else {
        return 0;  // nothing changed
      }
    }
    pictureChanged();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Item index as the combo box reads it: WPARAM carries a signed int.
int indexFrom(WPARAM wParam) { return static_cast<int>(static_cast<std::intptr_t>(wParam)); }

bool validIndex(const HWND__& object, int index) {
  return index >= 0 && static_cast<std::size_t>(index) < object.items.size();
}

// The combo-box messages on the locked object.
LRESULT comboMessage(HWND__* object, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case CB_RESETCONTENT:
      object->items.clear();
      object->selection = -1;
      object->text.clear();
      return 0;
    case CB_ADDSTRING: {
      if (lParam == 0) {
        return CB_ERR;
      }
      object->items.push_back(textFrom(reinterpret_cast<LPCWSTR>(lParam)));
      return static_cast<LRESULT>(object->items.size() - 1);
    }
    case CB_SETCURSEL: {
      // -1 clears the selection; so does an index out of range, which also reports CB_ERR.
      const int index = indexFrom(wParam);
      if (!validIndex(*object, index)) {
        object->selection = -1;
        object->text.clear();
        return CB_ERR;
      }
      object->selection = index;
      object->text = object->items[static_cast<std::size_t>(index)];
      return index;
    }
    case CB_GETCURSEL:
      return object->selection < 0 ? CB_ERR : object->selection;
    case CB_GETCOUNT:
      return static_cast<LRESULT>(object->items.size());
    case CB_GETLBTEXT: {
      const int index = indexFrom(wParam);
      if (!validIndex(*object, index) || lParam == 0) {
        return CB_ERR;
      }
      const auto& item = object->items[static_cast<std::size_t>(index)];
      // The caller's buffer holds CB_GETLBTEXTLEN + 1 characters, as in Win32.
      return copyText(item, reinterpret_cast<LPWSTR>(lParam), item.size() + 1);
    }
    case CB_GETLBTEXTLEN: {
      const int index = indexFrom(wParam);
      if (!validIndex(*object, index)) {
        return CB_ERR;
      }
      return static_cast<LRESULT>(object->items[static_cast<std::size_t>(index)].size());
    }
    default:
      return 0;
  }
}

LRESULT comboProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case CB_RESETCONTENT:
    case CB_ADDSTRING:
    case CB_SETCURSEL:
    case CB_GETCURSEL:
    case CB_GETCOUNT:
    case CB_GETLBTEXT:
    case CB_GETLBTEXTLEN:
      break;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
  auto object = findWindow(window);
  if (!object) {
    return CB_ERR;
  }
  LRESULT result = 0;
  {
    std::lock_guard lock(object->mutex);
    result = comboMessage(object.get(), message, wParam, lParam);
  }
  if (message == CB_RESETCONTENT || message == CB_SETCURSEL) {
    pictureChanged();  // the shown selection changed
  }
  return result;
}

LRESULT staticProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

WNDPROC builtinProcedureOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::Button:
      return buttonProcedure;
    case ControlKind::Edit:
      return editProcedure;
    case ControlKind::ComboBox:
      return comboProcedure;
    case ControlKind::Static:
      return staticProcedure;
    case ControlKind::None:
      break;
  }
  return nullptr;
}

void setInvalidHandle() { SetLastError(ERROR_INVALID_WINDOW_HANDLE); }

}  // namespace

std::shared_ptr<HWND__> findWindow(HWND window) {
  if (window == nullptr) {
    return nullptr;
  }
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  const auto found = r.windows.find(window);
  return found == r.windows.end() ? nullptr : found->second;
}

HWND windowNeedingPaint(std::thread::id thread, HWND filter) {
  auto& r = registry();
  std::vector<std::shared_ptr<HWND__>> candidates;
  {
    std::lock_guard lock(r.mutex);
    for (const auto& [handle, object] : r.windows) {
      if (object->ownerThread == thread) {
        candidates.push_back(object);
      }
    }
  }
  for (const auto& object : candidates) {
    bool pending = false;
    {
      std::lock_guard lock(object->mutex);
      pending = object->updatePending && !object->destroying;
    }
    if (pending && (filter == nullptr || isSelfOrDescendant(object.get(), filter))) {
      return object.get();
    }
  }
  return nullptr;
}

std::vector<RECT> takeUpdateRegion(HWND window, bool& erase) {
  erase = false;
  auto object = findWindow(window);
  if (!object) {
    return {};
  }
  std::lock_guard lock(object->mutex);
  erase = object->eraseNeeded;
  object->eraseNeeded = false;
  object->updatePending = false;
  return std::exchange(object->updateRects, {});
}

RECT clientRect(HWND window) {
  auto object = findWindow(window);
  if (!object) {
    return RECT{0, 0, 0, 0};
  }
  std::lock_guard lock(object->mutex);
  return RECT{0, 0, object->rect.right - object->rect.left, object->rect.bottom - object->rect.top};
}

HWND firstTopLevelWindow() {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  HWND first = nullptr;
  std::uint64_t firstSerial = 0;
  for (const auto& [handle, object] : r.windows) {
    if (!object->child && (first == nullptr || object->serial < firstSerial)) {
      first = handle;
      firstSerial = object->serial;
    }
  }
  return first;
}

bool isSelfOrDescendant(HWND window, HWND ancestor) {
  // Parents are fixed at creation, so the chain can be walked window by window.
  for (HWND current = window; current != nullptr;) {
    if (current == ancestor) {
      return true;
    }
    auto object = findWindow(current);
    if (!object || !object->child) {
      return false;
    }
    current = object->parent;
  }
  return false;
}

std::vector<HWND> childrenOf(HWND window) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  const auto found = r.windows.find(window);
  if (found == r.windows.end()) {
    return {};
  }
  return found->second->children;
}

void addToUpdateRegion(HWND__& object, const RECT& rect, bool wholeClient, bool erase) {
  {
    std::lock_guard lock(object.mutex);
    object.updatePending = true;
    object.eraseNeeded = object.eraseNeeded || erase;
    const RECT client{0, 0, object.rect.right - object.rect.left, object.rect.bottom - object.rect.top};
    const RECT piece = wholeClient ? client : intersection(rect, client);
    auto& region = object.updateRects;
    if (wholeClient || region.size() >= kMostUpdatePieces) {
      // One rectangle around everything (the whole client area for a nullptr rectangle).
      RECT around = piece;
      for (const RECT& r : region) {
        around = RECT{std::min(around.left, r.left), std::min(around.top, r.top), std::max(around.right, r.right),
                      std::max(around.bottom, r.bottom)};
      }
      region.assign(1, around);
    } else if (!isEmpty(piece)) {
      region.push_back(piece);
    }
  }
  // The owner thread's GetMessageW turns the pending area into WM_PAINT.
  wakeThread(object.ownerThread);
}

LRESULT eraseWithClassBackground(HWND window, HDC dc) {
  auto object = findWindow(window);
  if (!object || object->kind != ControlKind::None) {
    return 0;
  }
  const auto registered = findRegisteredClass(object->className);
  if (!registered || registered->background == nullptr) {
    return 0;  // nothing to erase with: the paint sees fErase set
  }
  const RECT client = clientRect(window);
  return FillRect(dc, &client, registered->background) != 0 ? 1 : 0;
}

}  // namespace kvo::win32impl

using kvo::win32impl::findWindow;

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menuOrId, HINSTANCE instance,
                     LPVOID param) {
  using namespace kvo::win32impl;
  if (className == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const bool child = (style & WS_CHILD) != 0;
  if (child && parent == nullptr) {
    SetLastError(ERROR_TLW_WITH_WSCHILD);
    return nullptr;
  }

  auto object = std::make_shared<HWND__>();
  object->className = className;
  object->kind = kindOfClass(object->className);
  object->exStyle = exStyle;
  object->parent = parent;
  object->child = child;
  object->id = child ? static_cast<int>(reinterpret_cast<std::intptr_t>(menuOrId)) : 0;
  object->instance = instance;
  object->ownerThread = std::this_thread::get_id();
  object->builtinProcedure = builtinProcedureOf(object->kind);
  object->style = style;
  object->rect = RECT{x, y, x + width, y + height};
  object->text = textFrom(windowName);
  object->procedure = object->builtinProcedure;
  // A class registered by the program gives its procedure; an unknown name is still accepted
  // (a window without a procedure of its own), which keeps bare windows cheap in tests.
  std::shared_ptr<const RegisteredClass> registered;
  if (object->kind == ControlKind::None) {
    registered = findRegisteredClass(object->className);
    if (registered) {
      object->procedure = registered->procedure;
    }
  }
  const HWND handle = object.get();

  {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (parent != nullptr) {
      // Looked up under the same lock as the insertion, so a parent destroyed meanwhile
      // cannot end up with an orphan child.
      const auto found = r.windows.find(parent);
      if (found == r.windows.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
      if (child) {
        found->second->children.push_back(handle);
      }
    }
    object->serial = r.nextSerial++;
    r.windows.emplace(handle, std::move(object));
  }
  if (child && (style & WS_VISIBLE) != 0) {
    pictureChanged();
  } else if (auto created = findWindow(handle); created && (style & WS_VISIBLE) != 0) {
    addToUpdateRegion(*created, RECT{}, true, true);  // a window that shows is painted whole
  }
  if (registered) {
    // A registered class hears WM_CREATE before the caller gets the handle; -1 refuses the
    // window, which is then destroyed again.
    CREATESTRUCTW creation{param,  instance, menuOrId, parent,
                           height, width,    y,        x,
                           static_cast<LONG>(style), windowName, className, exStyle};
    if (SendMessageW(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&creation)) == -1) {
      DestroyWindow(handle);
      return nullptr;
    }
  }
  return handle;
}

BOOL DestroyWindow(HWND window) {
  using namespace kvo::win32impl;
  auto object = findWindow(window);
  if (!object) {
    setInvalidHandle();
    return FALSE;
  }
  {
    std::lock_guard lock(object->mutex);
    if (object->destroying) {
      return TRUE;  // a WM_DESTROY handler destroying its own window again
    }
    object->destroying = true;
  }
  // Win32 order: the window hears WM_DESTROY first, then its children are destroyed.
  SendMessageW(window, WM_DESTROY, 0, 0);
  for (HWND childWindow : childrenOf(window)) {
    DestroyWindow(childWindow);
  }
  {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (object->child && object->parent != nullptr) {
      const auto parentEntry = r.windows.find(object->parent);
      if (parentEntry != r.windows.end()) {
        auto& siblings = parentEntry->second->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
      }
    }
    r.windows.erase(window);
    kvo::win32impl::dropPostedMessages(window);
  }
  if (object->child) {
    kvo::win32impl::pictureChanged();
  }
  return TRUE;
}

BOOL IsWindow(HWND window) { return findWindow(window) ? TRUE : FALSE; }

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto object = findWindow(window);
  if (!object) {
    kvo::win32impl::setInvalidHandle();
    return 0;
  }
  WNDPROC procedure = nullptr;
  {
    std::lock_guard lock(object->mutex);
    procedure = object->procedure != nullptr ? object->procedure : object->builtinProcedure;
  }
  // `object` keeps the window alive for the call even if the procedure destroys it.
  if (procedure != nullptr) {
    return procedure(window, message, wParam, lParam);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
      break;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_PAINT: {
      // Nothing drawn but the erasing: the area counts as painted.
      PAINTSTRUCT paint{};
      if (BeginPaint(window, &paint) != nullptr) {
        EndPaint(window, &paint);
      }
      return 0;
    }
    case WM_ERASEBKGND:
      return kvo::win32impl::eraseWithClassBackground(window, reinterpret_cast<HDC>(wParam));
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
      // The system's colours: an edit box on the window colour, the rest on the face colour.
      const COLORREF background =
          message == WM_CTLCOLOREDIT ? kvo::win32impl::kSystemWindow : kvo::win32impl::kSystemFace;
      const HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kvo::win32impl::kSystemText);
      SetBkColor(dc, background);
      return reinterpret_cast<LRESULT>(kvo::win32impl::systemColourBrush(background));
    }
    default:
      return 0;
  }
  auto object = findWindow(window);
  if (!object) {
    return 0;
  }
  if (message == WM_SETTEXT) {
    {
      std::lock_guard lock(object->mutex);
      object->text = kvo::win32impl::textFrom(reinterpret_cast<LPCWSTR>(lParam));
    }
    kvo::win32impl::pictureChanged();
    return TRUE;
  }
  std::lock_guard lock(object->mutex);
  switch (message) {
    case WM_GETTEXT:
      return kvo::win32impl::copyText(object->text, reinterpret_cast<LPWSTR>(lParam), wParam);
    default:  // WM_GETTEXTLENGTH
      return static_cast<LRESULT>(object->text.size());
  }
}

LRESULT CallWindowProcW(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (previous == nullptr) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return previous(window, message, wParam, lParam);
}

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
  auto object = findWindow(window);
  if (!object) {
    kvo::win32impl::setInvalidHandle();
    return 0;
  }
  std::lock_guard lock(object->mutex);
  switch (index) {
    case GWLP_WNDPROC: {
      // The previous procedure of a predefined control is its built-in one, so a subclass
      // can hand messages on with CallWindowProcW.
      const WNDPROC previous = object->procedure;
      object->procedure = reinterpret_cast<WNDPROC>(value);
      return reinterpret_cast<LONG_PTR>(previous);
    }
    case GWLP_USERDATA: {
      const LONG_PTR previous = object->userData;
      object->userData = value;
      return previous;
    }
    default:
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

LONG_PTR GetWindowLongPtrW(HWND window, int index) {
  auto object = findWindow(window);
  if (!object) {
    kvo::win32impl::setInvalidHandle();
    return 0;
  }
  std::lock_guard lock(object->mutex);
  switch (index) {
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR>(object->procedure);
    case GWLP_USERDATA:
      return object->userData;
    default:
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

HWND GetDlgItem(HWND parent, int id) {
  auto& r = kvo::win32impl::registry();
  std::lock_guard lock(r.mutex);
  const auto found = r.windows.find(parent);
  if (parent == nullptr || found == r.windows.end()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  for (HWND childWindow : found->second->children) {
    const auto entry = r.windows.find(childWindow);
    if (entry != r.windows.end() && entry->second->id == id) {
      return childWindow;
    }
  }
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

BOOL SetWindowTextW(HWND window, LPCWSTR text) {
  if (!IsWindow(window)) {
    kvo::win32impl::setInvalidHandle();
    return FALSE;
  }
  return SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0 ? TRUE : FALSE;
}

int GetWindowTextW(HWND window, LPWSTR buffer, int bufferLength) {
  if (buffer == nullptr || bufferLength <= 0) {
    return 0;
  }
  buffer[0] = u'\0';
  if (!IsWindow(window)) {
    kvo::win32impl::setInvalidHandle();
    return 0;
  }
  return static_cast<int>(SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(bufferLength),
                                       reinterpret_cast<LPARAM>(buffer)));
}

BOOL EnableWindow(HWND window, BOOL enable) {
  auto object = findWindow(window);
  if (!object) {
    kvo::win32impl::setInvalidHandle();
    return FALSE;
  }
  bool wasDisabled = false;
  {
    std::lock_guard lock(object->mutex);
    wasDisabled = (object->style & WS_DISABLED) != 0;
    if (enable) {
      object->style &= ~WS_DISABLED;
    } else {
      object->style |= WS_DISABLED;
    }
  }
  kvo::win32impl::pictureChanged();
  return wasDisabled ? TRUE : FALSE;  // nonzero: the window was disabled before
}

BOOL IsWindowEnabled(HWND window) {
  auto object = findWindow(window);
  if (!object) {
    kvo::win32impl::setInvalidHandle();
    return FALSE;
  }
  std::lock_guard lock(object->mutex);
  return (object->style & WS_DISABLED) == 0 ? TRUE : FALSE;
}

BOOL CheckDlgButton(HWND parent, int id, UINT check) {
  const HWND button = GetDlgItem(parent, id);
  if (button == nullptr) {
    return FALSE;
  }
  SendMessageW(button, BM_SETCHECK, check, 0);
  return TRUE;
}

UINT IsDlgButtonChecked(HWND parent, int id) {
  const HWND button = GetDlgItem(parent, id);
  if (button == nullptr) {
    return BST_UNCHECKED;
  }
  return static_cast<UINT>(SendMessageW(button, BM_GETCHECK, 0, 0));
}

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
  auto object = findWindow(window);
  if (!object) {
    kvo::win32impl::setInvalidHandle();
    return FALSE;
  }
  using namespace kvo::win32impl;
  const RECT client = clientRect(window);
  Invalidation entry{};
  entry.wholeClient = rect == nullptr;
  entry.erase = erase != FALSE;
  entry.rect = rect != nullptr ? *rect : client;
  {
    std::lock_guard lock(object->invalidationMutex);
    object->invalidations.push_back(entry);
  }
  addToUpdateRegion(*object, entry.rect, entry.wholeClient, entry.erase);
  return TRUE;
}

BOOL ShowWindow(HWND window, int command) {
  auto object = findWindow(window);
  if (!object) {
    kvo::win32impl::setInvalidHandle();
    return FALSE;
  }
  bool wasVisible = false;
  {
    std::lock_guard lock(object->mutex);
    wasVisible = (object->style & WS_VISIBLE) != 0;
    if (command == SW_HIDE) {
      object->style &= ~WS_VISIBLE;
    } else {
      object->style |= WS_VISIBLE;
    }
  }
  if (!wasVisible && command != SW_HIDE) {
    kvo::win32impl::addToUpdateRegion(*object, RECT{}, true, true);  // a window that shows is painted whole
  }
  kvo::win32impl::pictureChanged();
  return wasVisible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window) {
  auto object = findWindow(window);
  if (!object) {
    return FALSE;
  }
  std::lock_guard lock(object->mutex);
  return (object->style & WS_VISIBLE) != 0 ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND window) {
  auto object = findWindow(window);
  if (!object) {
    kvo::win32impl::setInvalidHandle();
    return FALSE;
  }
  bool pending = false;
  {
    std::lock_guard lock(object->mutex);
    pending = object->updatePending;
  }
  if (pending) {
    SendMessageW(window, WM_PAINT, 0, 0);
  }
  return TRUE;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
  auto object = findWindow(window);
  if (!object || rect == nullptr) {
    if (!object) {
      kvo::win32impl::setInvalidHandle();
    } else {
      SetLastError(ERROR_INVALID_PARAMETER);
    }
    return FALSE;
  }
  std::lock_guard lock(object->mutex);
  *rect = object->rect;
  return TRUE;
}

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags) {
  auto object = findWindow(window);
  if (!object) {
    kvo::win32impl::setInvalidHandle();
    return FALSE;
  }
  std::unique_lock lock(object->mutex);
  if ((flags & SWP_NOZORDER) == 0) {
    if (insertAfter == HWND_TOPMOST) {
      object->exStyle |= WS_EX_TOPMOST;
    } else if (insertAfter == HWND_NOTOPMOST) {
      object->exStyle &= ~WS_EX_TOPMOST;
    }
  }
  RECT& r = object->rect;
  if ((flags & SWP_NOMOVE) == 0) {
    const LONG w = r.right - r.left;
    const LONG h = r.bottom - r.top;
    r = RECT{x, y, x + w, y + h};
  }
  if ((flags & SWP_NOSIZE) == 0) {
    r.right = r.left + std::max(width, 0);
    r.bottom = r.top + std::max(height, 0);
  }
  if ((flags & SWP_SHOWWINDOW) != 0) {
    object->style |= WS_VISIBLE;
  } else if ((flags & SWP_HIDEWINDOW) != 0) {
    object->style &= ~WS_VISIBLE;
  }
  lock.unlock();
  if (object->child) {
    kvo::win32impl::pictureChanged();  // a control moved, grew or shrank, showed or hid
  }
  return TRUE;
}

// ---- test hooks ----------------------------------------------------------------------------

namespace kvo::win32test {

std::vector<InvalidationRecord> invalidations(HWND window) {
  std::vector<InvalidationRecord> result;
  auto object = findWindow(window);
  if (!object) {
    return result;
  }
  std::lock_guard lock(object->invalidationMutex);
  for (const auto& entry : object->invalidations) {
    result.push_back(InvalidationRecord{entry.rect, entry.wholeClient, entry.erase});
  }
  return result;
}

void clearInvalidations(HWND window) {
  auto object = findWindow(window);
  if (!object) {
    return;
  }
  std::lock_guard lock(object->invalidationMutex);
  object->invalidations.clear();
}

std::optional<WindowInfo> windowInfo(HWND window) {
  auto object = findWindow(window);
  if (!object) {
    return std::nullopt;
  }
  std::lock_guard lock(object->mutex);
  return WindowInfo{object->className,
                    object->text,
                    object->style,
                    object->exStyle,
                    object->rect,
                    object->parent,
                    object->id,
                    (object->style & WS_DISABLED) == 0,
                    object->check};
}

std::vector<HWND> children(HWND window) { return kvo::win32impl::childrenOf(window); }

bool needsPaint(HWND window) {
  auto object = findWindow(window);
  if (!object) {
    return false;
  }
  std::lock_guard lock(object->mutex);
  return object->updatePending;
}

std::vector<std::u16string> comboItems(HWND combo) {
  auto object = findWindow(combo);
  if (!object || object->kind != kvo::win32impl::ControlKind::ComboBox) {
    return {};
  }
  std::lock_guard lock(object->mutex);
  return object->items;
}

int comboSelection(HWND combo) {
  auto object = findWindow(combo);
  if (!object || object->kind != kvo::win32impl::ControlKind::ComboBox) {
    return -1;
  }
  std::lock_guard lock(object->mutex);
  return object->selection;
}

bool selectComboItem(HWND combo, int index) {
  auto object = findWindow(combo);
  if (!object || object->kind != kvo::win32impl::ControlKind::ComboBox) {
    return false;
  }
  {
    std::lock_guard lock(object->mutex);
    if ((object->style & WS_DISABLED) != 0 || !kvo::win32impl::validIndex(*object, index)) {
      return false;
    }
    object->selection = index;
    object->text = object->items[static_cast<std::size_t>(index)];
  }
  kvo::win32impl::pictureChanged();
  if (object->child && object->parent != nullptr) {
    SendMessageW(object->parent, WM_COMMAND,
                 MAKEWPARAM(static_cast<WORD>(object->id), static_cast<WORD>(CBN_SELCHANGE)),
                 reinterpret_cast<LPARAM>(combo));
  }
  return true;
}

std::size_t windowCount() {
  auto& r = kvo::win32impl::registry();
  std::lock_guard lock(r.mutex);
  return r.windows.size();
}

void resetWindows() {
  std::unordered_map<HWND, std::shared_ptr<HWND__>> released;
  auto& r = kvo::win32impl::registry();
  {
    std::lock_guard lock(r.mutex);
    released.swap(r.windows);
  }
  // `released` goes out of scope here, outside the registry lock.
}

}  // namespace kvo::win32test
