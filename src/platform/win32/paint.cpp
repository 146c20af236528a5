// Painting: the canvas of each window, device contexts and the GDI drawing calls. Drawing is
// done with cairo into an RGB image; shapes are drawn without antialiasing so that a rectangle
// or a line covers exactly the pixels GDI would, text with greyscale antialiasing and full
// hinting, from the DejaVu Sans file itself (FreeType, no font configuration involved).

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/win32/canvas.h"
#include "platform/win32/window_object.h"

namespace kvo::win32impl {
namespace {

constexpr const char* kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr double kFontPixels = 11.0;  // the em size of the default GUI font at 96 dpi
constexpr std::size_t kMostOperations = 4096;  // a canvas's record beyond this loses its oldest

struct Font {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  cairo_font_face_t* cairoFace = nullptr;
  cairo_font_options_t* options = nullptr;
  cairo_t* scratch = nullptr;  // for measuring
  FontMetrics metrics{};
};

void applyFont(cairo_t* cairo, const Font& font) {
  cairo_set_font_face(cairo, font.cairoFace);
  cairo_set_font_size(cairo, kFontPixels);
  cairo_set_font_options(cairo, font.options);
}

// Made at the first use and kept for the life of the process (drawMutex held).
const Font& font() {
  static Font* made = [] {
    auto* f = new Font();
    if (FT_Init_FreeType(&f->library) == 0 && FT_New_Face(f->library, kFontFile, 0, &f->face) == 0) {
      f->cairoFace = cairo_ft_font_face_create_for_ft_face(f->face, 0);
    } else {
      // Without the font package some sans-serif face still draws the texts.
      std::fprintf(stderr, "stand-in window system: %s not found, using another font\n", kFontFile);
      f->cairoFace = cairo_toy_font_face_create("sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    }
    f->options = cairo_font_options_create();
    cairo_font_options_set_antialias(f->options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(f->options, CAIRO_HINT_STYLE_FULL);
    cairo_font_options_set_hint_metrics(f->options, CAIRO_HINT_METRICS_ON);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    f->scratch = cairo_create(surface);
    cairo_surface_destroy(surface);  // the context keeps it
    applyFont(f->scratch, *f);
    cairo_font_extents_t extents{};
    cairo_font_extents(f->scratch, &extents);
    f->metrics.ascent = static_cast<int>(std::lround(extents.ascent));
    f->metrics.cellHeight = f->metrics.ascent + static_cast<int>(std::lround(extents.descent));
    return f;
  }();
  return *made;
}

int advanceOf(cairo_t* cairo, const std::string& utf8) {
  cairo_text_extents_t extents{};
  cairo_text_extents(cairo, utf8.c_str(), &extents);
  return static_cast<int>(std::lround(extents.x_advance));
}

void setColour(cairo_t* cairo, COLORREF colour) {
  cairo_set_source_rgb(cairo, (colour & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0,
                       ((colour >> 16) & 0xFF) / 255.0);
}

bool contains(const RECT& outer, const RECT& inner) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

bool touchesClip(const DeviceContext& dc, const RECT& rect) {
  return std::any_of(dc.clip.begin(), dc.clip.end(),
                     [&](const RECT& c) { return !isEmpty(intersection(c, rect)); });
}

// Records an operation that drew something; one that covers (a fill, an opaque text) takes the
// earlier ones it hides entirely out of the record.
void recordOperation(DeviceContext& dc, DrawOperation op, bool covers) {
  if (dc.record == nullptr || (dc.textsOnly && op.kind != DrawKind::Text)) {
    return;
  }
  const RECT logical = op.rect;
  op.rect = offsetRect(op.rect, dc.origin);
  for (POINT& p : op.points) {
    p.x += dc.origin.x;
    p.y += dc.origin.y;
  }
  auto& ops = *dc.record;
  if (covers) {
    for (const RECT& c : dc.clip) {
      const RECT hidden = offsetRect(intersection(logical, c), dc.origin);
      if (!isEmpty(hidden)) {
        std::erase_if(ops, [&](const DrawOperation& earlier) { return contains(hidden, earlier.rect); });
      }
    }
  }
  if (ops.size() >= kMostOperations) {
    ops.erase(ops.begin(), ops.begin() + kMostOperations / 2);
  }
  ops.push_back(std::move(op));
}

struct DeviceContexts {
  std::unordered_map<HDC, std::unique_ptr<DeviceContext>> live;
};

DeviceContexts& deviceContexts() {
  static DeviceContexts instance;
  return instance;
}

// The pixels of a line from a to b without b (Bresenham), each widened to a square.
void addLinePixels(cairo_t* cairo, POINT a, POINT b, int width, RECT& bounds) {
  const int dx = std::abs(b.x - a.x);
  const int dy = -std::abs(b.y - a.y);
  const int sx = a.x < b.x ? 1 : -1;
  const int sy = a.y < b.y ? 1 : -1;
  const int shift = (width - 1) / 2;
  int error = dx + dy;
  for (POINT p = a; p.x != b.x || p.y != b.y;) {
    cairo_rectangle(cairo, p.x - shift, p.y - shift, width, width);
    bounds.left = std::min(bounds.left, p.x - shift);
    bounds.top = std::min(bounds.top, p.y - shift);
    bounds.right = std::max(bounds.right, p.x - shift + width);
    bounds.bottom = std::max(bounds.bottom, p.y - shift + width);
    const int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      p.x += sx;
    }
    if (twice <= dx) {
      error += dx;
      p.y += sy;
    }
  }
}

}  // namespace

// UTF-8 for cairo; a lone surrogate becomes U+FFFD, a NUL (which would end cairo's text) too.
std::string utf8Of(std::u16string_view text) {
  std::u16string clean(text);
  std::replace(clean.begin(), clean.end(), u'\0', u'\uFFFD');
  if (clean.empty()) {
    return {};
  }
  const int length = static_cast<int>(clean.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, clean.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, clean.data(), length, out.data(), size, nullptr, nullptr);
  }
  return out;
}

std::mutex& drawMutex() {
  static std::mutex instance;
  return instance;
}

FontMetrics fontMetrics() { return font().metrics; }

int textWidth(std::u16string_view text) {
  const Font& f = font();
  return advanceOf(f.scratch, utf8Of(text));
}

RECT intersection(const RECT& a, const RECT& b) {
  return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
}

bool isEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

RECT offsetRect(const RECT& r, POINT by) {
  return RECT{r.left + by.x, r.top + by.y, r.right + by.x, r.bottom + by.y};
}

// ---- the canvas ----

Canvas::Canvas(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width_, height_)) {}

Canvas::~Canvas() { cairo_surface_destroy(surface_); }

void Canvas::resize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == width_ && height == height_) {
    return;
  }
  cairo_surface_t* bigger = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* copy = cairo_create(bigger);
  cairo_set_source_surface(copy, surface_, 0, 0);
  cairo_paint(copy);
  cairo_destroy(copy);
  cairo_surface_destroy(surface_);
  surface_ = bigger;
  width_ = width;
  height_ = height;
}

// ---- device contexts ----

HDC openDeviceContext(HWND window, std::shared_ptr<Canvas> canvas, cairo_surface_t* surface, POINT origin,
                      std::vector<RECT> clip, std::vector<DrawOperation>* record) {
  auto dc = std::make_unique<DeviceContext>();
  dc->window = window;
  dc->textsOnly = canvas == nullptr;
  dc->canvas = std::move(canvas);
  dc->cairo = cairo_create(surface);
  dc->origin = origin;
  dc->clip = std::move(clip);
  dc->record = record;
  dc->brush = GetStockObject(WHITE_BRUSH);
  dc->pen = GetStockObject(BLACK_PEN);
  dc->font = GetStockObject(DEFAULT_GUI_FONT);
  cairo_translate(dc->cairo, origin.x, origin.y);
  for (const RECT& r : dc->clip) {
    if (!isEmpty(r)) {
      cairo_rectangle(dc->cairo, r.left, r.top, r.right - r.left, r.bottom - r.top);
    }
  }
  cairo_clip(dc->cairo);  // an empty path: nothing is drawn at all
  cairo_set_antialias(dc->cairo, CAIRO_ANTIALIAS_NONE);
  applyFont(dc->cairo, font());
  const HDC handle = reinterpret_cast<HDC>(dc.get());
  deviceContexts().live.emplace(handle, std::move(dc));
  return handle;
}

void closeDeviceContext(HDC handle) {
  auto& live = deviceContexts().live;
  const auto found = live.find(handle);
  if (found == live.end()) {
    return;
  }
  cairo_destroy(found->second->cairo);
  live.erase(found);
}

DeviceContext* findDeviceContext(HDC handle) {
  auto& live = deviceContexts().live;
  const auto found = live.find(handle);
  return found == live.end() ? nullptr : found->second.get();
}

// ---- drawing ----

std::optional<COLORREF> brushColour(const DeviceContext& dc, HGDIOBJ brush) {
  const auto record = gdiRecord(brush);
  if (!record || record->kind != win32test::GdiKind::Brush || record->style != 0) {
    return std::nullopt;  // unknown, not a brush, or hollow
  }
  if (record->stock && record->stockIndex == DC_BRUSH) {
    return dc.dcBrushColour;
  }
  return record->colour;
}

void fillRectangle(DeviceContext& dc, const RECT& rect, COLORREF colour) {
  if (isEmpty(rect) || !touchesClip(dc, rect)) {
    return;
  }
  setColour(dc.cairo, colour);
  cairo_rectangle(dc.cairo, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  cairo_fill(dc.cairo);
  recordOperation(dc, DrawOperation{DrawKind::Fill, dc.window, rect, colour, {}, 0, {}, false, 0}, true);
}

void drawPolyline(DeviceContext& dc, const POINT* points, int count, COLORREF colour, int width) {
  width = std::max(width, 1);
  RECT bounds{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (int i = 0; i + 1 < count; ++i) {
    addLinePixels(dc.cairo, points[i], points[i + 1], width, bounds);
  }
  if (isEmpty(bounds) || !touchesClip(dc, bounds)) {
    cairo_new_path(dc.cairo);
    return;
  }
  setColour(dc.cairo, colour);
  cairo_fill(dc.cairo);
  recordOperation(dc,
                  DrawOperation{DrawKind::Line, dc.window, bounds, colour,
                                std::vector<POINT>(points, points + count), width, {}, false, 0},
                  false);
}

void drawText(DeviceContext& dc, int x, int y, std::u16string_view text, COLORREF colour) {
  const std::string utf8 = utf8Of(text);
  const FontMetrics metrics = font().metrics;
  const RECT cell{x, y, x + advanceOf(dc.cairo, utf8), y + metrics.cellHeight};
  if (!touchesClip(dc, cell)) {
    return;
  }
  const bool opaque = dc.backgroundMode == OPAQUE;
  if (opaque && !isEmpty(cell)) {
    setColour(dc.cairo, dc.backgroundColour);
    cairo_rectangle(dc.cairo, cell.left, cell.top, cell.right - cell.left, cell.bottom - cell.top);
    cairo_fill(dc.cairo);
  }
  setColour(dc.cairo, colour);
  cairo_move_to(dc.cairo, x, y + metrics.ascent);
  cairo_show_text(dc.cairo, utf8.c_str());
  cairo_new_path(dc.cairo);
  recordOperation(dc,
                  DrawOperation{DrawKind::Text, dc.window, cell, colour, {}, 0, std::u16string(text), opaque,
                                opaque ? dc.backgroundColour : 0},
                  opaque);
}

}  // namespace kvo::win32impl

// ---- the GDI calls ----

using kvo::win32impl::DeviceContext;
using kvo::win32impl::drawMutex;
using kvo::win32impl::findDeviceContext;

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
  using namespace kvo::win32impl;
  auto object = findWindow(window);
  if (!object || paint == nullptr) {
    SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  bool erase = false;
  std::vector<RECT> region = takeUpdateRegion(window, erase);
  const RECT client = clientRect(window);
  RECT bounds{0, 0, 0, 0};
  for (const RECT& r : region) {
    bounds = isEmpty(bounds) ? r
                             : RECT{std::min(bounds.left, r.left), std::min(bounds.top, r.top),
                                    std::max(bounds.right, r.right), std::max(bounds.bottom, r.bottom)};
  }
  HDC dc = nullptr;
  {
    std::lock_guard lock(drawMutex());
    if (!object->canvas) {
      object->canvas = std::make_shared<Canvas>(client.right, client.bottom);
    } else {
      object->canvas->resize(client.right, client.bottom);
    }
    dc = openDeviceContext(window, object->canvas, object->canvas->surface(), POINT{0, 0}, std::move(region),
                           &object->canvas->operations);
  }
  *paint = PAINTSTRUCT{};
  paint->hdc = dc;
  paint->rcPaint = bounds;
  if (erase) {
    paint->fErase = SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) == 0 ? TRUE : FALSE;
  }
  return dc;
}

BOOL EndPaint(HWND /*window*/, const PAINTSTRUCT* paint) {
  if (paint == nullptr) {
    return FALSE;
  }
  {
    std::lock_guard lock(drawMutex());
    kvo::win32impl::closeDeviceContext(paint->hdc);
  }
  kvo::win32impl::pictureChanged();
  return TRUE;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  std::lock_guard lock(drawMutex());
  DeviceContext* context = findDeviceContext(dc);
  if (context == nullptr || rect == nullptr) {
    return 0;
  }
  const auto colour = kvo::win32impl::brushColour(*context, brush);
  if (!colour) {
    return kvo::win32impl::gdiRecord(brush) ? 1 : 0;  // a hollow brush fills nothing
  }
  kvo::win32impl::fillRectangle(*context, *rect, *colour);
  return 1;
}

COLORREF SetTextColor(HDC dc, COLORREF colour) {
  std::lock_guard lock(drawMutex());
  DeviceContext* context = findDeviceContext(dc);
  if (context == nullptr) {
    return CLR_INVALID;
  }
  return std::exchange(context->textColour, colour);
}

COLORREF SetBkColor(HDC dc, COLORREF colour) {
  std::lock_guard lock(drawMutex());
  DeviceContext* context = findDeviceContext(dc);
  if (context == nullptr) {
    return CLR_INVALID;
  }
  return std::exchange(context->backgroundColour, colour);
}

int SetBkMode(HDC dc, int mode) {
  std::lock_guard lock(drawMutex());
  DeviceContext* context = findDeviceContext(dc);
  if (context == nullptr || (mode != TRANSPARENT && mode != OPAQUE)) {
    return 0;
  }
  return std::exchange(context->backgroundMode, mode);
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  const auto record = kvo::win32impl::gdiRecord(object);
  std::lock_guard lock(drawMutex());
  DeviceContext* context = findDeviceContext(dc);
  if (context == nullptr || !record) {
    return nullptr;
  }
  switch (record->kind) {
    case kvo::win32test::GdiKind::Brush:
      return std::exchange(context->brush, object);
    case kvo::win32test::GdiKind::Pen:
      return std::exchange(context->pen, object);
    case kvo::win32test::GdiKind::Font:
      return std::exchange(context->font, object);
  }
  return nullptr;
}

BOOL TextOutW(HDC dc, int x, int y, LPCWSTR text, int count) {
  if (text == nullptr && count != 0) {
    return FALSE;
  }
  std::lock_guard lock(drawMutex());
  DeviceContext* context = findDeviceContext(dc);
  if (context == nullptr || count < 0) {
    return FALSE;
  }
  kvo::win32impl::drawText(*context, x, y, std::u16string_view(text, static_cast<std::size_t>(count)),
                           context->textColour);
  return TRUE;
}

BOOL Polyline(HDC dc, const POINT* points, int count) {
  std::lock_guard lock(drawMutex());
  DeviceContext* context = findDeviceContext(dc);
  if (context == nullptr || points == nullptr || count < 2) {
    return FALSE;
  }
  const auto pen = kvo::win32impl::gdiRecord(context->pen);
  if (!pen || pen->style == PS_NULL) {
    return TRUE;  // a deleted pen or the null pen draws nothing
  }
  kvo::win32impl::drawPolyline(*context, points, count, pen->colour, pen->width);
  return TRUE;
}
