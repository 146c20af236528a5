// The module handle and its string and icon resources (see resources.h), and the system's
// icons and cursors.

#include "platform/win32/resources.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/win32/testing.h"
#include "platform/win32/win32.h"

// An icon or cursor handle is the address of one of these records.
struct HICON__ {
  int id;
  bool system;  // a system icon or cursor (loaded with a null instance)
  int width;
  int height;
};

struct HINSTANCE__ {
  int unused;
};

namespace kvo::win32impl {
namespace {

HINSTANCE__ g_module{0};

struct ResourceTable {
  std::mutex mutex;
  std::map<UINT, std::u16string> strings;
  // Kept for the process: a handle handed out stays valid after the table is replaced.
  std::map<WORD, std::unique_ptr<HICON__>> icons;
  std::map<WORD, std::unique_ptr<HICON__>> retiredIcons;
};

ResourceTable& table() {
  static ResourceTable instance;
  return instance;
}

// The system's own icons and cursors: they need no table and are never freed.
HICON__ g_applicationIcon{32512, true, 32, 32};
HICON__ g_arrowCursor{32512, true, 32, 32};

bool isModule(HINSTANCE instance) { return instance == nullptr || instance == &g_module; }

}  // namespace
}  // namespace kvo::win32impl

void kvo::win32res::registerModuleResources(std::span<const StringResource> strings,
                                            std::span<const IconResource> icons) {
  auto& t = kvo::win32impl::table();
  std::lock_guard lock(t.mutex);
  t.strings.clear();
  for (const auto& entry : strings) {
    if (entry.text != nullptr) {
      t.strings[entry.id] = entry.text;
    }
  }
  for (auto& [id, icon] : t.icons) {
    t.retiredIcons[id] = std::move(icon);
  }
  t.icons.clear();
  for (const auto& entry : icons) {
    t.icons[entry.id] = std::make_unique<HICON__>(HICON__{entry.id, false, entry.width, entry.height});
  }
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
  if (moduleName != nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);  // the program loads no other module
    return nullptr;
  }
  return &kvo::win32impl::g_module;
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
  using namespace kvo::win32impl;
  if (buffer == nullptr || bufferMax < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto& t = table();
  std::lock_guard lock(t.mutex);
  const auto found = isModule(instance) ? t.strings.find(id) : t.strings.end();
  if (found == t.strings.end()) {
    if (bufferMax > 0) {
      buffer[0] = u'\0';
    }
    SetLastError(isModule(instance) ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
  }
  const std::u16string& text = found->second;
  if (bufferMax == 0) {
    // Win32: the buffer receives a read-only pointer to the resource text itself.
    *reinterpret_cast<const WCHAR**>(buffer) = text.c_str();
    return static_cast<int>(text.size());
  }
  const auto count = std::min<std::size_t>(text.size(), static_cast<std::size_t>(bufferMax) - 1);
  std::copy_n(text.begin(), count, buffer);
  buffer[count] = u'\0';
  return static_cast<int>(count);
}

HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
  using namespace kvo::win32impl;
  if (name == nullptr || !IS_INTRESOURCE(name)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);  // icons are named by number only here
    return nullptr;
  }
  const auto id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
  if (instance == nullptr && name == IDI_APPLICATION) {
    return &g_applicationIcon;
  }
  if (!isModule(instance)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  auto& t = table();
  std::lock_guard lock(t.mutex);
  const auto found = t.icons.find(id);
  if (found == t.icons.end()) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return found->second.get();
}

HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name) {
  if (instance == nullptr && name == IDC_ARROW) {
    return &kvo::win32impl::g_arrowCursor;
  }
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);  // the program uses no cursor of its own
  return nullptr;
}

namespace kvo::win32test {

std::optional<IconInfo> iconInfo(HICON icon) {
  using namespace kvo::win32impl;
  if (icon == nullptr) {
    return std::nullopt;
  }
  if (icon == &g_applicationIcon || icon == &g_arrowCursor) {
    return IconInfo{icon->id, true, icon->width, icon->height};
  }
  auto& t = table();
  std::lock_guard lock(t.mutex);
  for (const auto* map : {&t.icons, &t.retiredIcons}) {
    for (const auto& [id, record] : *map) {
      if (record.get() == icon) {
        return IconInfo{record->id, false, record->width, record->height};
      }
    }
  }
  return std::nullopt;
}

void resetResources() {
  kvo::win32res::registerModuleResources({}, {});
}

}  // namespace kvo::win32test
