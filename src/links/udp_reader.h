#pragma once
// The base of the two RealTraffic UDP readers: the socket, the receive buffer, the receive loop
// with its duplicate suppression, and the thread body that the run starts for each reader.
// The derived readers decode: TrafficReader (traffic lines, port 49005) and QnhReader (the QNH,
// port 49004).
//
// Threads: each reader object is driven by one thread at a time. A thread started while an
// earlier one still runs on the same object (a reader left over from the previous run) first
// tells the earlier one to leave and waits for its end, bounded, before it touches the object.
// stopRequested, the counters and the lamp flags are atomics shared with the run control and
// the main loop; message, buffer, previousDatagram and the socket belong to the reader thread.
//
// This header stays free of the Winsock declarations, so that code which also needs the
// system's socket headers (libcurl) may include it.
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "core/log.h"

struct WSADATA;

namespace kvo {

inline constexpr std::size_t kReceiveBufferSize = 16384;
inline constexpr std::uint16_t kQnhPort = 49004;
inline constexpr std::uint16_t kTrafficPort = 49005;

// The socket handle as Winsock's SOCKET (an unsigned pointer-size integer).
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kNoSocket = ~SocketHandle{0};  // INVALID_SOCKET

// Reader lamp values of the main window.
inline constexpr std::int32_t kLampReceiving = 1;
inline constexpr std::int32_t kLampIdle = 2;
inline constexpr std::int32_t kLampStopped = 3;

class UdpReader {
 public:
  explicit UdpReader(std::string_view name);
  virtual ~UdpReader();
  UdpReader(const UdpReader&) = delete;
  UdpReader& operator=(const UdpReader&) = delete;

  // ---- the reader's fields -------------------------------------------------------------------
  std::string_view message;  // the datagram being decoded, inside buffer
  std::atomic<bool> stopRequested{false};
  std::atomic<std::uint32_t> datagramCount{0};  // accepted datagrams, duplicates included
  std::atomic<std::uint32_t> lastSeenCount{0};  // datagramCount at the last lamp update
  std::array<char, kReceiveBufferSize + 1> buffer{};  // plus one byte for a terminating NUL
  std::string previousDatagram;  // used only when RealTraffic runs on another PC
  std::unique_ptr<WSADATA> wsaData;
  SocketHandle socket = kNoSocket;
  // The log lines of bad datagrams, summed up per kind and period (the reader thread's).
  RepeatedLogLines badDatagramLines;

  // ---- decoding (derived readers) ----------------------------------------------------------
  // Decodes `message`; catches its own exceptions.
  virtual void processMessage() = 0;
  // Once, when the receive loop ends normally.
  virtual void onStopped() = 0;
  // Once the socket is bound: the reader's lamps.
  virtual void onConnected() = 0;

  const std::string& name() const noexcept { return name_; }

  // Flags, counts, message and previous datagram back to their start values; only while no
  // thread runs on the object (tests).
  virtual void resetForTests();

  // ---- the thread ----------------------------------------------------------------------------
  // The whole thread body: claim the object, Winsock, socket, bind, lamps, "{} connected",
  // receive loop, clean-up; an error ends the run through reportThreadStopped. Port 0 binds
  // an ephemeral port (tests), readable through boundPort().
  void runThread(std::uint16_t port);

  // WSAStartup 2.2; throws "WSA startup error: {}".
  void startWinsock();
  // UDP socket; throws "failed to create the socket, error: {}".
  void createSocket();
  // 127.0.0.1 when RealTraffic runs on this PC, else every interface; throws "bind to stream
  // socket failed, error: {}".
  void bindPort(std::uint16_t port);
  // select with a 1 s time-out and recvfrom until stopRequested (or the object is claimed by
  // a newer thread); throws "receive error: {}".
  void receiveLoop();

  // The loop's handling of `length` bytes already in buffer: NUL, message, count,
  // duplicate suppression, processMessage.
  void handleReceived(std::size_t length);
  // The same for bytes from elsewhere (tests, benchmarks, fuzzers): copied into buffer; more
  // than 16383 bytes are logged as an overrun and dropped, as the loop does.
  void handleDatagram(std::string_view datagram);

  // "buffer overrun: {} bytes" (summed up with the other overruns of its period).
  void logOverrun(std::string_view count);

  // The port the socket is bound to; 0 while none.
  std::uint16_t boundPort() const noexcept { return boundPort_.load(); }
  // A thread is running on this object.
  bool threadRunning() const;
  // Waits until no thread runs on this object; false when one still runs after the bound.
  bool waitForThreadEnd(std::chrono::milliseconds bound) const;

  // How long a new thread waits for the end of an earlier one on the same object: one select
  // time-out and the datagram being decoded, with room to spare.
  static constexpr std::chrono::milliseconds kHandOverWait{3000};

 private:
  bool claimThread(std::uint64_t& generation);
  void releaseThread();
  void closeSocketIfOpen();
  bool stillOwner(std::uint64_t generation) const noexcept { return generation_.load() == generation; }

  const std::string name_;
  std::atomic<std::uint16_t> boundPort_{0};
  bool winsockStarted_ = false;  // this thread's WSAStartup succeeded and is not yet cleaned up
  std::uint64_t ownGeneration_ = 0;  // the generation of the thread inside runThread

  // Thread hand-over: generation_ counts the threads that claimed the object; a thread whose
  // generation is no longer current leaves its loop.
  std::atomic<std::uint64_t> generation_{0};
  mutable std::mutex threadMutex_;
  mutable std::condition_variable threadEnded_;
  bool threadActive_ = false;  // under threadMutex_
};

// "{} connected" / "{} disconnected" as continuation lines (ten blanks first).
void logReaderConnected(std::string_view readerName);
void logReaderDisconnected(std::string_view readerName);

}  // namespace kvo

// RealTraffic runs on this PC (set by the start-up checks): the readers then listen on the
// loop-back address only and decode identical datagrams again.
extern std::atomic<bool> g_realTrafficOnThisPc;

// The receiving state was shown since the last idle check.
extern std::atomic<bool> g_trafficLampShown;
extern std::atomic<bool> g_qnhLampShown;

// Thread bodies of "Traffic Reader" (g_trafficReader) and "QNH Reader" (g_qnhReader); the run
// starts them on detached threads with ports 49005 and 49004.
void trafficReaderThread(std::uint16_t port);
void qnhReaderThread(std::uint16_t port);

// From the main loop: idle or receiving lamps by the datagram counts, QNH reader first; only
// while the RealTraffic link is up.
void updateReaderLamps();

// The reader reset of a new run and of a (re)connected or lost RealTraffic link: feed time 0,
// collected callsigns cleared, both stop flags cleared, both lamp-shown flags set, the QNH
// reader's last QNH 1013 and its two counts 0. A reader thread that is still stopping is first
// given its time (bounded) to end, so clearing its stop flag cannot keep it running.
void resetReaderState();

// Everything of both readers back to the start of the process (tests).
void resetReadersForTests();
