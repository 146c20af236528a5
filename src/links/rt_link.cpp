#include "links/rt_link.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <vector>

#include "core/log.h"
#include "core/run_flags.h"
#include "core/timeutil.h"
#include "core/utf.h"
#include "core/wsa_error.h"
#include "links/engine_calls.h"
#include "links/feed.h"
#include "links/sim_queues.h"
#include "platform/winsock/winsock.h"
#include "shared_state/main_window.h"
#include "shared_state/run_end.h"

kvo::SocketHandle g_rtListenSocket = kvo::kNoSocket;
kvo::SocketHandle g_rtClientSocket = kvo::kNoSocket;
std::atomic<bool> g_rtConnected{false};

namespace {

using namespace std::chrono_literals;

// The server's own Winsock start-up, balanced by closeRealTrafficLink (worker only).
bool g_rtWinsockStarted = false;

// A wait slice: a stop or quit is noticed within it.
constexpr auto kWaitSlice = 100ms;

bool stopping() { return g_stopRequested.load() || g_quitRequested.load(); }

void closeSocket(kvo::SocketHandle& socket) {
  if (socket != kvo::kNoSocket) {
    closesocket(socket);
    socket = kvo::kNoSocket;
  }
}

// Waits until the socket is readable, at most `timeout` (none: until a stop), in slices that look
// at the stop flags. True when it is readable; false on a time-out, a stop or an error.
bool waitReadable(SOCKET socket, std::optional<std::chrono::milliseconds> timeout) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    auto slice = std::chrono::milliseconds(kWaitSlice);
    bool last = false;
    if (timeout) {
      const auto left = *timeout - std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - start);
      if (left <= slice) {
        slice = std::max(left, std::chrono::milliseconds(0));
        last = true;
      }
    }
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(socket, &readSet);
    timeval wait{static_cast<long>(slice.count() / 1000), static_cast<long>((slice.count() % 1000) * 1000)};
    const int ready = select(0, &readSet, nullptr, nullptr, &wait);
    if (ready == SOCKET_ERROR) return false;
    if (ready > 0) return true;
    if (last || stopping()) return false;
  }
}

// Closes the connection after a failed send, a broken reply or none.
void dropClient() {
  g_rtConnected = false;
  closeSocket(g_rtClientSocket);
}

// Both sockets closed and the server's own Winsock start-up ended; another component's start-up
// stays.
void closeLinkQuietly() {
  closeSocket(g_rtListenSocket);
  closeSocket(g_rtClientSocket);
  g_rtConnected = false;
  if (g_rtWinsockStarted) {
    WSACleanup();
    g_rtWinsockStarted = false;
  }
}

// -0 is written as 0.
double rounded(double value) { return std::round(value) + 0.0; }

}  // namespace

std::string kvo::userPositionLine(double pitchRad, double bankRad, double headingRad, double altFt,
                                  double groundSpeedKt, double latDeg, double lonDeg) {
  return fmt::format("Qs121={:.0f};{:.0f};{:.6f};{:.0f};{};{:.6f};{:.6f}\r\n", rounded(pitchRad * 100000.0),
                     rounded(bankRad * 100000.0), headingRad, rounded(altFt * 1000.0), groundSpeedKt * 1000.0,
                     latDeg * kRadiansPerDegree, lonDeg * kRadiansPerDegree);
}

void startRealTrafficServer(std::string_view port) {
  auto fail = [](const std::string& text) {
    closeSocket(g_rtListenSocket);
    if (g_rtWinsockStarted) {
      WSACleanup();
      g_rtWinsockStarted = false;
    }
    throw std::runtime_error(text);
  };
  closeSocket(g_rtListenSocket);  // a server of an earlier run that was not closed
  if (!g_rtWinsockStarted) {
    WSADATA data{};
    const int started = WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0) throw std::runtime_error(fmt::format("WSAStartup failed with error {}", started));
    g_rtWinsockStarted = true;
  }
  addrinfo hints{};
  hints.ai_flags = AI_PASSIVE;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* result = nullptr;
  const std::string portText(port);
  const int resolved = getaddrinfo(nullptr, portText.c_str(), &hints, &result);
  if (resolved != 0) fail(fmt::format("getaddrinfo failed with error {}", resolved));
  // The results are freed on every way out.
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> results(result, freeaddrinfo);

  g_rtListenSocket = socket(result->ai_family, result->ai_socktype, result->ai_protocol);
  if (g_rtListenSocket == INVALID_SOCKET) {
    g_rtListenSocket = kvo::kNoSocket;
    fail("socket failed with error " + wsaErrorText(WSAGetLastError()));
  }
  u_long blocking = 0;
  if (ioctlsocket(g_rtListenSocket, FIONBIO, &blocking) == SOCKET_ERROR) {
    fail("ioctlsocket failed with error " + wsaErrorText(WSAGetLastError()));
  }
  const int reuse = 1;
  if (setsockopt(g_rtListenSocket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse) ==
      SOCKET_ERROR) {
    fail("setsockopt(SO_REUSEADDR) failed");
  }
  if (bind(g_rtListenSocket, result->ai_addr, static_cast<int>(result->ai_addrlen)) == SOCKET_ERROR) {
    fail("Bind failed at port " + portText + " with error " + wsaErrorText(WSAGetLastError()));
  }
  results.reset();
  if (listen(g_rtListenSocket, SOMAXCONN) == SOCKET_ERROR) {
    fail("listen failed with error " + wsaErrorText(WSAGetLastError()));
  }
}

std::uint16_t realTrafficServerPort() {
  if (g_rtListenSocket == kvo::kNoSocket) return 0;
  sockaddr_in address{};
  int length = sizeof address;
  if (getsockname(g_rtListenSocket, reinterpret_cast<sockaddr*>(&address), &length) == SOCKET_ERROR) return 0;
  return ntohs(address.sin_port);
}

bool waitForClient(kvo::ClientWait wait) {
  if (g_rtConnected.load()) return false;
  if (g_rtListenSocket == kvo::kNoSocket) return false;
  // A poll looks only whether a connection waits, so that the main loop never blocks here.
  const auto timeout = wait == kvo::ClientWait::PollOnly
                           ? std::optional<std::chrono::milliseconds>(std::chrono::milliseconds(0))
                           : std::nullopt;
  if (!waitReadable(g_rtListenSocket, timeout)) return false;
  const SOCKET accepted = accept(g_rtListenSocket, nullptr, nullptr);
  if (accepted == INVALID_SOCKET) return false;
  g_rtClientSocket = accepted;
  const char noDelay = 1;
  if (setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, &noDelay, 1) == SOCKET_ERROR) {
    const std::string reason =
        fmt::format("{} setsockopt failed with error {}", currentTimeText(), wsaErrorText(WSAGetLastError()));
    logLineIfRunning(fmt::format("waitForClient interrupted: {}", reason));
    closeSocket(g_rtClientSocket);  // an unusable connection is closed, not kept open
    return false;
  }
  // A peer that stops reading must not hold the worker: a send that cannot finish in time fails.
  const DWORD sendTimeout = static_cast<DWORD>(kvo::kRtSendTimeout.count());
  setsockopt(accepted, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeout), sizeof sendTimeout);
  g_rtConnected = true;
  return true;
}

bool sendDataPacket(std::string_view text) {
  std::size_t sent = 0;
  int error = 0;
  if (g_rtClientSocket == kvo::kNoSocket) {
    error = WSAENOTSOCK;
  }
  while (error == 0 && sent < text.size()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(text.size() - sent, 1u << 20));
    const int n = send(g_rtClientSocket, text.data() + sent, chunk, 0);
    if (n == SOCKET_ERROR || n <= 0) {
      error = n == SOCKET_ERROR ? WSAGetLastError() : WSAECONNRESET;
      break;
    }
    sent += static_cast<std::size_t>(n);
  }
  if (error == 0) return true;
  // Only part of a line reached RealTraffic, or nothing: the link is unusable either way.
  logLineIfRunning(fmt::format("sendDataPacket to RealTraffic failed: {}", wsaErrorText(error)));
  dropClient();
  logLineIfRunning("RealTraffic client socket closed");
  return false;
}

std::string receive(std::chrono::milliseconds timeout) {
  if (g_rtClientSocket == kvo::kNoSocket) return {};
  kvo::ReplyReader reader;
  const std::string& reply = reader.text();
  std::vector<char> buffer(kvo::kRtReceiveBufferSize, '\0');
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (!waitReadable(g_rtClientSocket, std::max(left, std::chrono::milliseconds(0)))) {
      if (reply.empty()) logLineIfRunning("receive: no reply from RealTraffic");
      return reply;  // what came so far; the caller decides whether it is readable
    }
    const int room = static_cast<int>(buffer.size() - reply.size());
    const int n = recv(g_rtClientSocket, buffer.data(), room, 0);
    if (n == SOCKET_ERROR) {
      logLineIfRunning(fmt::format("receive: {}", wsaErrorText(WSAGetLastError())));
      return {};
    }
    if (n == 0) return reply;  // closed by RealTraffic
    switch (reader.add(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
      case kvo::ReplyProgress::Overrun:
        logLineIfRunning(fmt::format("receive: buffer overrun: {}", reply.size()));
        return {};
      case kvo::ReplyProgress::Complete:
        return reply;
      case kvo::ReplyProgress::Partial:
        break;
    }
  }
}

kvo::ReplyProgress kvo::ReplyReader::add(std::string_view piece) {
  text_.append(piece);
  if (text_.size() >= kRtReceiveBufferSize) return ReplyProgress::Overrun;
  if (spoiled_) return ReplyProgress::Partial;
  bool mayBeComplete = false;
  for (const char c : piece) {
    if (inString_) {
      if (escaped_) {
        escaped_ = false;
      } else if (c == '\\') {
        escaped_ = true;
      } else if (c == '"') {
        inString_ = false;
        mayBeComplete = mayBeComplete || !structured_;
      }
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (!started_) {
      started_ = true;
      structured_ = c == '{' || c == '[';
    }
    if (c == '"') {
      inString_ = true;
    } else if (c == '{' || c == '[') {
      ++depth_;
    } else if (c == '}' || c == ']') {
      mayBeComplete = mayBeComplete || --depth_ == 0;
    } else if (!structured_) {
      mayBeComplete = true;  // a number or a literal standing alone
    }
  }
  if (!mayBeComplete) return ReplyProgress::Partial;
  if (nlohmann::json::accept(text_)) return ReplyProgress::Complete;
  spoiled_ = structured_;
  return ReplyProgress::Partial;
}

void parseRealTrafficVersion(std::string_view reply) {
  nlohmann::json parsed;
  if (!reply.empty()) {
    parsed = nlohmann::json::parse(reply, nullptr, false);
  }
  bool readable = !reply.empty() && !parsed.is_discarded();
  std::string versionText;
  if (readable && parsed.is_object()) {
    const auto version = parsed.value("version", nlohmann::json(""));
    versionText = version.is_string() ? version.get<std::string>() : version.dump();
    // The version is shown in the window: a reply whose version is not clean text (JSON lets
    // "\u0000" or "\n" through) is refused as a whole.
    readable = kvo::isCleanText(versionText);
  }
  if (!readable) {
    // An unreadable reply is no reply: the standard edition is assumed and the run goes on.
    if (!reply.empty()) logLineIfRunning("RealTraffic version reply is not readable");
    g_mainWindow.showMessage("No RealTraffic version received?", true);
    g_rtProfEdition = false;
    return;
  }
  if (!parsed.is_object()) {
    g_rtProfEdition = false;
    g_mainWindow.setDisplayText(&kvo::MainWindow::realTrafficEdition, {}, g_statusAreaRect);
    return;
  }
  const auto level = parsed.value("level", nlohmann::json(1));
  g_rtProfEdition = level.is_number_integer() && level.get<std::int64_t>() == 2;
  g_mainWindow.setDisplayText(&kvo::MainWindow::realTrafficEdition,
                              fmt::format("RT{} edition: {}", g_rtProfEdition ? " prof" : " stnd", versionText),
                              g_statusAreaRect);
}

void connectRealTraffic(std::chrono::milliseconds replyTimeout) {
  if (!g_realTrafficOnThisPc.load()) return;
  g_mainWindow.showMessage(fmt::format("Waiting for RealTraffic to connect to |{} ...", "Ambrelvane"), true);
  logLine("");
  resetReaderState();
  while (waitForClient(kvo::ClientWait::UntilStopped)) {
    std::string reply;
    if (sendDataPacket("Qs999=version\r\n")) reply = receive(replyTimeout);
    // Whatever connects first would hold the link and keep RealTraffic, waiting behind it, out.
    if (reply.empty() && !stopping()) {
      if (g_rtConnected.load()) {
        logLineIfRunning(fmt::format("{} no version reply within {} s, client socket closed", currentTimeText(),
                                     std::chrono::duration_cast<std::chrono::seconds>(replyTimeout).count()));
        dropClient();
      }
      continue;
    }
    parseRealTrafficVersion(reply);
    g_mainWindow.g_rtLinkUp = true;
    g_mainWindow.invalidate(g_statusAreaRect);
    g_scanChangeRestarts = false;
    logLine("RealTraffic connected");
    break;
  }
  g_mainWindow.clearMessage();
}

void sendUserPositionToRT() {
  if (!g_realTrafficOnThisPc.load()) return;
  kvo::UserAircraftData user;
  {
    std::lock_guard lock(g_simQueueMutex);
    user = g_userAircraftSnapshot;
  }
  if (!kvo::isKnownPosition(user.lat, user.lon)) return;

  if (!g_rtConnected.load()) {
    if (g_exitReason.load() != kvo::kExitNotYetSet) return;
    if (waitForClient(kvo::ClientWait::PollOnly)) {
      g_mainWindow.g_rtLinkUp = true;
      g_mainWindow.invalidate(g_statusAreaRect);
      g_mainWindow.showMessage(fmt::format("{} RealTraffic re-connected", currentTimeText()), true);
      g_mainWindow.clearMessage();
    }
    return;  // no position in this call
  }
  const std::string line = kvo::userPositionLine(user.pitch, user.bank, user.heading, user.altFt, user.groundSpeedKt,
                                                 user.lat, user.lon);
  if (sendDataPacket(line)) return;

  // The link is lost.
  g_mainWindow.g_rtLinkUp = false;
  g_mainWindow.invalidate(g_statusAreaRect);
  if (!g_quitRequested.load()) {
    // The main loop goes on while RealTraffic is away: what the lost link queued would bring the
    // dropped traffic back for the feed's delay.
    clearTrafficFeed();
    g_dropLiveTrafficCall();
  }
  resetReaderState();
  g_mainWindow.showMessage(
      fmt::format("{} RealTraffic gone? Wait for RealTraffic to re-connect ...", currentTimeText()), true);
}

void sendSimTimeToRT(std::int64_t seconds) {
  if (!g_rtConnected.load() || seconds < 1) return;
  sendDataPacket(fmt::format("Qs123={}\r\n", seconds * 1000));
}

void closeRealTrafficLink() {
  if (g_rtConnected.load()) sendDataPacket("exit\r\n");
  closeLinkQuietly();
}

void resetRealTrafficLinkForTests() { closeLinkQuietly(); }
