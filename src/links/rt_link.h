#pragma once
// The TCP link on which RealTraffic, running on this PC, connects to the program: the version
// handshake, the user aircraft's position about once a second ("Qs121"), the simulator's time
// for a professional edition ("Qs123"), and "exit" when a run closes. A lost link is noticed by
// a failed send; the live traffic is then dropped and the link waits for RealTraffic to connect
// again, polled from the main loop so that the traffic tick never blocks on it.
//
// Threads: everything here runs on the start-up worker, except that any thread may read
// g_rtConnected.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "links/udp_reader.h"  // kvo::SocketHandle, kvo::kNoSocket

// The listening socket and the accepted RealTraffic connection; kNoSocket when none.
extern kvo::SocketHandle g_rtListenSocket;
extern kvo::SocketHandle g_rtClientSocket;
// A connection was accepted and configured; cleared by whoever closes it.
extern std::atomic<bool> g_rtConnected;

namespace kvo {

inline constexpr std::size_t kRtReceiveBufferSize = 16384;
// How long the handshake waits for RealTraffic's version reply. A client that has sent nothing by
// then is closed, so that it cannot hold the link: 10 s leaves a busy PC room to answer, while a
// stray client keeps RealTraffic, waiting behind it, out only that long.
inline constexpr std::chrono::milliseconds kRtReplyTimeout{10000};
// A send that cannot be completed within this time counts as a lost link.
inline constexpr std::chrono::milliseconds kRtSendTimeout{2000};

// How long waitForClient may wait: until a client comes or a stop is requested, or only a look
// whether one is waiting.
enum class ClientWait { UntilStopped, PollOnly };

// A reply that arrives in pieces: complete once it reads as one JSON value, an overrun once it
// holds kRtReceiveBufferSize bytes or more. The JSON reader looks at the reply only when a piece
// may have completed it (an object or array closed to its outermost level, or the end of a
// value that stands alone), so a reply sent byte by byte costs as much as one sent whole.
enum class ReplyProgress { Partial, Complete, Overrun };
class ReplyReader {
 public:
  ReplyProgress add(std::string_view piece);
  const std::string& text() const noexcept { return text_; }

 private:
  std::string text_;
  int depth_ = 0;
  bool started_ = false;     // a value has begun
  bool structured_ = false;  // it is an object or an array
  bool inString_ = false;
  bool escaped_ = false;
  // An object or array that closed and still is no JSON can never become one: the rest is only
  // kept until the link gives up, without parsing the whole text again for every piece.
  bool spoiled_ = false;
};

// The "Qs121" line of a user position (with its CR LF).
std::string userPositionLine(double pitchRad, double bankRad, double headingRad, double altFt, double groundSpeedKt,
                             double latDeg, double lonDeg);

}  // namespace kvo

// The TCP server on the port (a decimal text; "0" takes a free port, see
// realTrafficServerPort). Throws std::runtime_error with the failing step's text; every failure
// leaves no socket open and no Winsock start-up behind.
void startRealTrafficServer(std::string_view port);
// The port the server listens on; 0 while none.
std::uint16_t realTrafficServerPort();

// Accepts RealTraffic's connection. false at once while connected; false when the wait ends
// without a usable connection (a stop or quit request, nothing waiting in a poll, an accepted
// connection that could not be configured, which is then closed).
bool waitForClient(kvo::ClientWait wait);
// Sends the whole text on the connection; false (and the connection closed) when it cannot be
// sent completely.
bool sendDataPacket(std::string_view text);
// One reply of at most 16383 bytes, waiting at most `timeout` and only while no stop or quit is
// requested; empty on a time-out, an error, a closed connection or an overrun.
std::string receive(std::chrono::milliseconds timeout = kvo::kRtReplyTimeout);
// The run's wait for RealTraffic and the version handshake; only while RealTraffic runs on this
// PC. A client that sends no reply within `replyTimeout` is closed and the wait goes on. Returns
// when RealTraffic has connected or a stop or quit is requested.
void connectRealTraffic(std::chrono::milliseconds replyTimeout = kvo::kRtReplyTimeout);
// The edition and version from RealTraffic's reply; a reply that is empty, no JSON or whose
// version is not clean text counts as none received.
void parseRealTrafficVersion(std::string_view reply);
// The user's position to RealTraffic; while the link is lost, looks whether RealTraffic has
// connected again (without waiting). A failed send drops the live traffic.
void sendUserPositionToRT();
// "Qs123" with the time in milliseconds, while connected and for a time of at least 1 s.
void sendSimTimeToRT(std::int64_t seconds);

// The closing down's part: "exit" while connected, both sockets closed, the server's Winsock
// start-up ended.
void closeRealTrafficLink();

// Everything back to the start (tests): sockets closed, flags cleared.
void resetRealTrafficLinkForTests();
