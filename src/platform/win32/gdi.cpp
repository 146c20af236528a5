// GDI objects as small records. A handle is the address of its record; the registry knows the
// live ones, so DeleteObject of a stale handle fails instead of freeing twice.

#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/win32/canvas.h"
#include "platform/win32/testing.h"
#include "platform/win32/win32.h"

namespace kvo::win32impl {
namespace {

using kvo::win32test::GdiKind;
using kvo::win32test::GdiRecord;

constexpr int kSolidBrush = 0;
constexpr int kHollowBrush = 1;

struct GdiRegistry {
  std::mutex mutex;
  std::unordered_map<const void*, std::unique_ptr<GdiRecord>> created;
  std::map<int, std::unique_ptr<GdiRecord>> stock;  // made on first use, never deleted
  std::map<COLORREF, std::unique_ptr<GdiRecord>> systemBrushes;  // the same, for system colours
};

// Function-local: the main window object creates its brushes during static initialisation.
GdiRegistry& gdi() {
  static GdiRegistry instance;
  return instance;
}

void* addCreated(const GdiRecord& record) {
  auto& g = gdi();
  auto owned = std::make_unique<GdiRecord>(record);
  void* handle = owned.get();
  std::lock_guard lock(g.mutex);
  g.created.emplace(handle, std::move(owned));
  return handle;
}

std::optional<GdiRecord> stockRecord(int which) {
  constexpr COLORREF white = RGB(255, 255, 255);
  constexpr COLORREF black = RGB(0, 0, 0);
  switch (which) {
    case WHITE_BRUSH:
      return GdiRecord{GdiKind::Brush, white, 0, kSolidBrush, true, which};
    case BLACK_BRUSH:
      return GdiRecord{GdiKind::Brush, black, 0, kSolidBrush, true, which};
    case NULL_BRUSH:
      return GdiRecord{GdiKind::Brush, black, 0, kHollowBrush, true, which};
    case WHITE_PEN:
      return GdiRecord{GdiKind::Pen, white, 1, PS_SOLID, true, which};
    case BLACK_PEN:
      return GdiRecord{GdiKind::Pen, black, 1, PS_SOLID, true, which};
    case DEFAULT_GUI_FONT:
      return GdiRecord{GdiKind::Font, black, 0, 0, true, which};
    case DC_BRUSH:  // its colour is the device context's, white until set
      return GdiRecord{GdiKind::Brush, white, 0, kSolidBrush, true, which};
    default:
      return std::nullopt;
  }
}

// A shared object (stock or system brush) by its handle; registry locked.
const GdiRecord* findShared(const GdiRegistry& g, HGDIOBJ object) {
  for (const auto& entry : g.stock) {
    if (entry.second.get() == object) {
      return entry.second.get();
    }
  }
  for (const auto& entry : g.systemBrushes) {
    if (entry.second.get() == object) {
      return entry.second.get();
    }
  }
  return nullptr;
}

}  // namespace

std::optional<GdiRecord> gdiRecord(HGDIOBJ object) {
  auto& g = gdi();
  std::lock_guard lock(g.mutex);
  const auto found = g.created.find(object);
  if (found != g.created.end()) {
    return *found->second;
  }
  if (const GdiRecord* shared = findShared(g, object)) {
    return *shared;
  }
  return std::nullopt;
}

HBRUSH systemColourBrush(COLORREF colour) {
  auto& g = gdi();
  std::lock_guard lock(g.mutex);
  auto& slot = g.systemBrushes[colour];
  if (!slot) {
    slot = std::make_unique<GdiRecord>(GdiRecord{GdiKind::Brush, colour, 0, kSolidBrush, true, -1});
  }
  return reinterpret_cast<HBRUSH>(slot.get());
}

}  // namespace kvo::win32impl

HBRUSH CreateSolidBrush(COLORREF colour) {
  using kvo::win32test::GdiKind;
  return static_cast<HBRUSH>(kvo::win32impl::addCreated(
      kvo::win32test::GdiRecord{GdiKind::Brush, colour, 0, kvo::win32impl::kSolidBrush, false, -1}));
}

HPEN CreatePen(int style, int width, COLORREF colour) {
  using kvo::win32test::GdiKind;
  return static_cast<HPEN>(
      kvo::win32impl::addCreated(kvo::win32test::GdiRecord{GdiKind::Pen, colour, width, style, false, -1}));
}

HGDIOBJ GetStockObject(int which) {
  auto& g = kvo::win32impl::gdi();
  std::lock_guard lock(g.mutex);
  auto found = g.stock.find(which);
  if (found == g.stock.end()) {
    const auto record = kvo::win32impl::stockRecord(which);
    if (!record) {
      return nullptr;
    }
    found = g.stock.emplace(which, std::make_unique<kvo::win32test::GdiRecord>(*record)).first;
  }
  return found->second.get();
}

BOOL DeleteObject(HGDIOBJ object) {
  if (object == nullptr) {
    return FALSE;
  }
  auto& g = kvo::win32impl::gdi();
  std::unique_ptr<kvo::win32test::GdiRecord> released;
  std::lock_guard lock(g.mutex);
  const auto found = g.created.find(object);
  if (found != g.created.end()) {
    released = std::move(found->second);
    g.created.erase(found);
    return TRUE;
  }
  // Deleting a stock object is harmless and changes nothing.
  return kvo::win32impl::findShared(g, object) != nullptr ? TRUE : FALSE;
}

namespace kvo::win32test {

std::optional<GdiRecord> gdiObject(HGDIOBJ object) { return kvo::win32impl::gdiRecord(object); }

std::size_t liveGdiObjectCount() {
  auto& g = kvo::win32impl::gdi();
  std::lock_guard lock(g.mutex);
  return g.created.size();
}

}  // namespace kvo::win32test
