#pragma once
// Drawing inside the Win32 stand-in: the image of a window's client area (its canvas), device
// contexts, and the drawing primitives behind the GDI calls and the looks of the controls.
// Every cairo call, canvas and device context is guarded by one lock, drawMutex(): drawing is
// rare and short here, and one lock keeps the font engine, which is not thread-safe, on one
// thread at a time. No window procedure is ever called with it held. Program code never
// includes this header.

#include <cairo.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/win32/testing.h"
#include "platform/win32/win32.h"

namespace kvo::win32impl {

using win32test::DrawKind;
using win32test::DrawOperation;
using win32test::GdiRecord;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
// The system's colours for windows and controls.
constexpr COLORREF kSystemWindow = kWhite;              // edit box background
constexpr COLORREF kSystemFace = RGB(240, 240, 240);    // dialog and control face
constexpr COLORREF kSystemText = kBlack;
constexpr COLORREF kSystemGrayText = RGB(109, 109, 109);  // disabled text

// DefWindowProcW's WM_ERASEBKGND: fills the client area with the class background brush;
// 0 when there is none.
LRESULT eraseWithClassBackground(HWND window, HDC dc);

std::mutex& drawMutex();

// ---- the font (drawMutex held) ----
struct FontMetrics {
  int ascent;      // from the top of the text cell to the base line
  int cellHeight;  // ascent and descent
};
FontMetrics fontMetrics();
int textWidth(std::u16string_view text);

// The image of a window's client area and the operations that still show in it.
class Canvas {
 public:
  Canvas(int width, int height);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  cairo_surface_t* surface() const { return surface_; }
  // A new size keeps what was drawn where it still fits.
  void resize(int width, int height);

  std::vector<DrawOperation> operations;  // in drawing order

 private:
  int width_;
  int height_;
  cairo_surface_t* surface_;
};

// What a device context draws with and where its drawing goes.
struct DeviceContext {
  HWND window = nullptr;
  std::shared_ptr<Canvas> canvas;  // a paint's: kept while the context lives
  cairo_t* cairo = nullptr;        // owned; its clip is `clip`, moved by `origin`
  POINT origin{};                  // the surface position of the logical (0, 0)
  std::vector<RECT> clip;          // logical coordinates: nothing is drawn outside
  std::vector<DrawOperation>* record = nullptr;  // where operations are recorded, at surface positions
  bool textsOnly = false;          // the record takes texts only (a control drawn for a picture)
  COLORREF textColour = kBlack;
  COLORREF backgroundColour = kWhite;
  int backgroundMode = OPAQUE;
  COLORREF dcBrushColour = kWhite;  // the colour DC_BRUSH fills with
  HGDIOBJ brush = nullptr;
  HGDIOBJ pen = nullptr;
  HGDIOBJ font = nullptr;
};

// ---- device contexts (drawMutex held) ----
// A context on the surface; the handle is valid until closeDeviceContext.
// A paint's context on the window's canvas (`record` its operations), or a control's context
// on a picture's surface (canvas null, `record` the picture's texts).
HDC openDeviceContext(HWND window, std::shared_ptr<Canvas> canvas, cairo_surface_t* surface, POINT origin,
                      std::vector<RECT> clip, std::vector<DrawOperation>* record);
void closeDeviceContext(HDC dc);
// The live context behind a handle; nullptr for a closed or unknown one.
DeviceContext* findDeviceContext(HDC dc);

// ---- rectangles ----
RECT intersection(const RECT& a, const RECT& b);
bool isEmpty(const RECT& r);
RECT offsetRect(const RECT& r, POINT by);

// ---- drawing (drawMutex held); logical coordinates ----
// The colour a brush fills with on the context; nullopt for a hollow or unknown brush.
std::optional<COLORREF> brushColour(const DeviceContext& dc, HGDIOBJ brush);
void fillRectangle(DeviceContext& dc, const RECT& rect, COLORREF colour);
// Segments from point to point, each without its last pixel, `width` pixels thick.
void drawPolyline(DeviceContext& dc, const POINT* points, int count, COLORREF colour, int width);
// With the context's background mode and colour; the text cell's top left at (x, y).
void drawText(DeviceContext& dc, int x, int y, std::u16string_view text, COLORREF colour);
// The text as UTF-8 as cairo draws it (a NUL or a lone surrogate as U+FFFD).
std::string utf8Of(std::u16string_view text);

// ---- GDI objects (gdi.cpp) ----
// The record behind a live object handle; nullopt for a deleted or unknown one.
std::optional<GdiRecord> gdiRecord(HGDIOBJ object);
// A shared solid brush of a system colour, as DefWindowProcW hands out for controls.
HBRUSH systemColourBrush(COLORREF colour);

// ---- controls (controls_draw.cpp) ----
// The room for text in an edit box of the style and width (inside its border and margins).
int editTextRoom(DWORD style, int width);
// Draws a predefined control's look onto the surface, its client origin at `origin`, inside
// `clip` (surface coordinates), asking its parent for colours first (no lock held); its texts
// go to `texts`. False for a window that is not a predefined control.
bool drawControl(HWND control, cairo_surface_t* surface, POINT origin, const RECT& clip,
                 std::vector<DrawOperation>& texts);

// ---- the picture (picture.cpp) ----
// Something the window's picture shows changed (a paint ended, a control changed): the
// picture file is written again when it is due.
void pictureChanged();
// On the calling thread: writes the picture file when it changed and is due; returns when
// the next write will be due while a change waits for it.
std::optional<std::chrono::steady_clock::time_point> servePictureFile(std::thread::id thread);
// ---- the texts in the picture's PNG file (png_texts.cpp) ----
// Puts the texts into the PNG bytes (before their end chunk); takes them out of PNG bytes.
void addTextsChunk(std::vector<std::uint8_t>& png, const std::vector<DrawOperation>& texts);
std::vector<DrawOperation> textsChunkOf(const std::vector<std::uint8_t>& png);

// ---- the window input file (window_input.cpp) ----
// On the calling thread: when it owns the first top-level window and the input file is on,
// posts the messages of a waiting input file (looked for at most every 100 ms); returns when
// the next look is due, nullopt while the input file is off.
std::optional<std::chrono::steady_clock::time_point> serveWindowInput(std::thread::id thread);

// The stand-in's clock: the steady clock, or the tests' manual one.
std::chrono::steady_clock::time_point standInNow();
bool manualClock();

}  // namespace kvo::win32impl
