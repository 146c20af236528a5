#pragma once
// Painting the main window: the five bands (header, status area, options panel, statistics,
// message line) drawn with GDI on each WM_PAINT from the main window's display state, the
// parameters and the park airport's view; and the counters that the start-up worker recounts
// once a second, repainting only the bands whose numbers changed.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/win32/win32.h"

// Colours of the painting that the main window object does not own (COLORREF 0x00BBGGRR).
inline constexpr COLORREF kGreyColour = 0xA0A0A0;

// The whole window; called by the window procedure between BeginPaint and EndPaint.
void paintMainWindow(HDC dc);
void paintSimulatorSection();
void paintQnh();
void paintOptionCaptions();
void paintStatistics();
// Text at (x, y) (its top left corner) in the colour, on the paint's device context.
void drawTextUtf8(int x, int y, std::string_view text, COLORREF colour);
// A caption: black when enabled, else grey.
void drawCaption(int x, int y, std::string_view text, bool enabled);

// Recounts the aircraft for the counters (start-up worker, once a second) and refreshes the
// window's copy of the park airport's facts; repaints the bands whose values changed.
void refreshCounters();

namespace kvo {

// What the statistics band shows of the park airport, copied from the worker's state by
// refreshCounters: the window thread never reads the worker's own texts.
struct ParkAirportView {
  std::string label;          // airportLabel of the park airport; empty while none is set
  std::string reservedStand;  // the user's reserved stand there; empty while none
  std::uint32_t trafficWeek = 0;
  bool operator==(const ParkAirportView&) const = default;
};
ParkAirportView parkAirportView();
// Replaces the view; true when it changed.
bool setParkAirportView(ParkAirportView view);
// No view, and what refreshCounters keeps of the park airport forgotten (a new run: the same
// airport may come with other stands).
void resetParkAirportView();

}  // namespace kvo
