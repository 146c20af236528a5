// Registered window classes: a name, a window procedure and the class's resources. Windows
// created with a registered name get its procedure and hear WM_CREATE (window.cpp).

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "platform/win32/testing.h"
#include "platform/win32/win32.h"
#include "platform/win32/window_object.h"

namespace kvo::win32impl {
namespace {

// Class names compare without regard to ASCII case, as Win32 compares them.
std::u16string foldCase(std::u16string_view name) {
  std::u16string folded(name);
  std::transform(folded.begin(), folded.end(), folded.begin(), [](char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
  });
  return folded;
}

struct ClassRegistry {
  std::mutex mutex;
  std::map<std::u16string, std::shared_ptr<const RegisteredClass>> classes;  // by folded name
  ATOM nextAtom = 0xC000;  // the range of registered class atoms
};

ClassRegistry& classRegistry() {
  static ClassRegistry instance;
  return instance;
}

}  // namespace

std::shared_ptr<const RegisteredClass> findRegisteredClass(std::u16string_view name) {
  auto& r = classRegistry();
  std::lock_guard lock(r.mutex);
  const auto found = r.classes.find(foldCase(name));
  return found == r.classes.end() ? nullptr : found->second;
}

}  // namespace kvo::win32impl

ATOM RegisterClassExW(const WNDCLASSEXW* windowClass) {
  using namespace kvo::win32impl;
  if (windowClass == nullptr || windowClass->cbSize != sizeof(WNDCLASSEXW) ||
      windowClass->lpfnWndProc == nullptr || windowClass->lpszClassName == nullptr ||
      IS_INTRESOURCE(windowClass->lpszClassName) || windowClass->lpszClassName[0] == u'\0' ||
      windowClass->cbClsExtra < 0 || windowClass->cbWndExtra < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto entry = std::make_shared<RegisteredClass>();
  entry->name = windowClass->lpszClassName;
  entry->style = windowClass->style;
  entry->procedure = windowClass->lpfnWndProc;
  entry->instance = windowClass->hInstance;
  entry->icon = windowClass->hIcon;
  entry->smallIcon = windowClass->hIconSm;
  entry->cursor = windowClass->hCursor;
  entry->background = windowClass->hbrBackground;
  auto& r = classRegistry();
  std::lock_guard lock(r.mutex);
  const auto [where, inserted] = r.classes.emplace(foldCase(entry->name), entry);
  if (!inserted) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  if (r.nextAtom == 0xFFFF) {
    r.classes.erase(where);
    SetLastError(ERROR_INVALID_PARAMETER);  // the atom table is full
    return 0;
  }
  return r.nextAtom++;
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE /*instance*/) {
  using namespace kvo::win32impl;
  if (className == nullptr || IS_INTRESOURCE(className)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto& r = classRegistry();
  std::lock_guard lock(r.mutex);
  if (r.classes.erase(foldCase(className)) == 0) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return FALSE;
  }
  return TRUE;
}

namespace kvo::win32test {

std::optional<ClassInfo> registeredClass(std::u16string_view name) {
  const auto entry = kvo::win32impl::findRegisteredClass(name);
  if (!entry) {
    return std::nullopt;
  }
  return ClassInfo{entry->name,   entry->style,     entry->procedure, entry->instance,
                   entry->icon,   entry->smallIcon, entry->cursor,    entry->background};
}

void resetClasses() {
  auto& r = kvo::win32impl::classRegistry();
  std::lock_guard lock(r.mutex);
  r.classes.clear();
}

}  // namespace kvo::win32test
