#pragma once
// The Traffic Reader: decodes RealTraffic's traffic lines (one comma-separated line per
// datagram on UDP port 49005) into feed records for the traffic engine.
//
// Threads: processMessage and processLineSub run on the reader thread. The worker sets the
// reference position, the reference elevation and the park airport position through the
// setters below (one small lock; the decoder takes one snapshot per line), and runs the static
// parking pass's callsign collection through startCollectingCallsigns/takeCollectedCallsigns;
// every insert, copy and clear of the collected callsigns is made under one lock.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "links/feed_time.h"
#include "links/feed.h"
#include "links/udp_reader.h"

namespace kvo {

// What the decoder compares each line with, as one consistent snapshot.
struct TrafficReference {
  double referenceLat = 0.0;  // degrees: centre of the traffic area (the user aircraft)
  double referenceLon = 0.0;
  double referenceElevation = 0.0;  // feet: the park airport's elevation
  bool referenceElevationKnown = false;
  bool parkAirportSet = false;  // a park airport is set (g_parkAirport not empty)
  double parkLat = 0.0;         // degrees: the park airport's position
  double parkLon = 0.0;
};

// Field indexes of the traffic line; the decoder reads none beyond kLastTrafficField.
enum TrafficField : std::size_t {
  kFieldHexId = 1,
  kFieldLat = 2,
  kFieldLon = 3,
  kFieldAltitude = 4,
  kFieldVerticalSpeed = 5,
  kFieldTrack = 7,
  kFieldGroundSpeed = 8,
  kFieldCallsign = 9,
  kFieldType = 10,
  kFieldRegistration = 11,
  kFieldOrigin = 12,
  kFieldDestination = 13,
  kFieldTimestamp = 14,
  kFieldSource = 17,
  kFieldTas = 20,
  kFieldRoll = 23,
  kFieldTrueHeading = 25,
  kFieldEmitterCategory = 28,
  kLastTrafficField = 28,
};

class TrafficReader final : public UdpReader {
 public:
  TrafficReader();

  // A datagram containing " VEH" is ignored; any other is split at ',' into `fields` and
  // decoded by processLineSub.
  void processMessage() override;
  // Lamp 3 and "Traffic Reader has stopped".
  void onStopped() override;
  // Traffic lamp 1, then QNH lamp 1.
  void onConnected() override;
  void resetForTests() override;

  // Decodes `fields` into a record and queues it while the feed is open; every error is
  // logged as "exception in processLineSub: {}" and the line dropped.
  void processLineSub();
  // The decoding steps up to the queuing: true when `record` is to be queued, false when the
  // line is dropped without a message; throws std::runtime_error with the error's text.
  bool decodeLine(FeedRecord& record);

  // The fields of the current line, views into the datagram; reused from line to line.
  std::vector<std::string_view> fields;
  // Collect the callsigns of every line for the static parking pass.
  std::atomic<bool> collectCallsigns{false};

  // ---- set by the worker -------------------------------------------------------------------
  void setReferencePosition(double lat, double lon);
  void setReferenceElevation(double feet);
  void clearReferenceElevation();
  void setParkAirportPosition(double lat, double lon);
  void clearParkAirportPosition();
  TrafficReference reference() const;

  // ---- callsign collection of the static parking pass ----------------------------------------
  // Empties the set, then sets collectCallsigns.
  void startCollectingCallsigns();
  // The collected callsigns; clears collectCallsigns and empties the set.
  std::unordered_set<std::string> takeCollectedCallsigns();
  // Empties the set (the reader reset); the flag stays as it is.
  void clearCallsigns();
  std::size_t callsignCount() const;

 private:
  void collectCallsign(std::string_view callsign);
  bool copyRegistration(FeedRecord& record) const;
  bool copyCallsign(FeedRecord& record) const;

  mutable std::mutex callsignsMutex_;
  std::unordered_set<std::string> callsigns_;  // under callsignsMutex_
  mutable std::mutex referenceMutex_;
  TrafficReference reference_;  // under referenceMutex_
  FeedTime feedTime_;  // on the reader thread only
};

// The field text, or an empty text for "null".
std::string copyFieldOrDefault(std::string_view field);
// "{:.6f},{:.6f}"
std::string formatLatLon(double lat, double lon);
// Default true airspeed (knots) for an altitude (feet) after the ground decision.
double defaultTrueAirspeed(double altitudeFt);

}  // namespace kvo

extern kvo::TrafficReader g_trafficReader;
// Weekdays (0..7) with learned real uses on the park airport's stands: set when its file is read,
// 0 when it is closed; the statistics show it.
extern std::atomic<std::uint32_t> g_rtTrafficWeek;
