#include "links/udp_reader.h"

#include <fmt/format.h>

#include <cstring>
#include <stdexcept>
#include <thread>
#include <type_traits>

#include "core/log.h"
#include "core/timeutil.h"
#include "core/utf.h"
#include "core/wsa_error.h"
#include "links/qnh_reader.h"
#include "links/reader_events.h"
#include "links/traffic_reader.h"
#include "platform/winsock/winsock.h"
#include "shared_state/main_window.h"

static_assert(std::is_same_v<SOCKET, kvo::SocketHandle>);
static_assert(INVALID_SOCKET == kvo::kNoSocket);

std::atomic<bool> g_realTrafficOnThisPc{false};
std::atomic<bool> g_trafficLampShown{true};
std::atomic<bool> g_qnhLampShown{true};

namespace kvo {
namespace {

// Errors after which select cannot succeed again on this socket: the reader must end.
bool socketIsGone(int error) {
  return error == WSAENOTSOCK || error == WSAEBADF || error == WSANOTINITIALISED || error == WSAEINVAL ||
         error == WSAEFAULT;
}

[[noreturn]] void throwReceiveError(int error) {
  throw std::runtime_error(fmt::format("receive error: {}", wsaErrorText(error)));
}

void setLamp(std::atomic<std::int32_t>& lamp, std::int32_t value) {
  lamp.store(value);
  g_mainWindow.invalidate(g_statusAreaRect);
}

// One reader's lamp by its datagram count since the last update.
void updateLamp(UdpReader& reader, std::atomic<std::int32_t>& lamp, std::atomic<bool>& shown) {
  const std::uint32_t count = reader.datagramCount.load();
  const bool changed = count != reader.lastSeenCount.exchange(count);
  if (!changed) {
    setLamp(lamp, kLampIdle);
    shown.store(false);
  } else if (!shown.exchange(true)) {
    setLamp(lamp, kLampReceiving);
  }
}

}  // namespace

UdpReader::UdpReader(std::string_view name) : wsaData(std::make_unique<WSADATA>()), name_(name) {}

UdpReader::~UdpReader() = default;

void UdpReader::startWinsock() {
  const int result = WSAStartup(MAKEWORD(2, 2), wsaData.get());
  if (result != 0) throw std::runtime_error(fmt::format("WSA startup error: {}", result));
  winsockStarted_ = true;
}

void UdpReader::createSocket() {
  socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (socket == INVALID_SOCKET) {
    throw std::runtime_error(fmt::format("failed to create the socket, error: {}", wsaErrorText(WSAGetLastError())));
  }
}

void UdpReader::bindPort(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  // RealTraffic on this PC talks over the loop-back; on another PC it may be anywhere.
  address.sin_addr.s_addr = htonl(g_realTrafficOnThisPc.load() ? INADDR_LOOPBACK : INADDR_ANY);
  if (bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
    throw std::runtime_error(fmt::format("bind to stream socket failed, error: {}", wsaErrorText(WSAGetLastError())));
  }
  sockaddr_in bound{};
  int length = sizeof bound;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
    boundPort_.store(ntohs(bound.sin_port));
  } else {
    boundPort_.store(port);
  }
}

void UdpReader::receiveLoop() {
  const std::uint64_t generation = ownGeneration_;
  while (!stopRequested.load() && stillOwner(generation)) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    const timeval wait{1, 0};
    const int ready = select(0, &readable, nullptr, nullptr, &wait);
    badDatagramLines.flush();  // a burst of bad datagrams that has ended is summed up
    if (ready == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      if (socketIsGone(error)) throwReceiveError(error);
      // A passing failure: look at the stop flag again, without spinning on the error.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (ready == 0) continue;

    const int received = recvfrom(socket, buffer.data(), static_cast<int>(kReceiveBufferSize), 0, nullptr, nullptr);
    if (received == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      // A datagram longer than the buffer is one bad datagram, not a broken socket: anybody on
      // the network could otherwise end the reader (and restart the run) with one oversize send.
      if (error == WSAEMSGSIZE) {
        logOverrun(fmt::format("more than {}", kReceiveBufferSize));
        continue;
      }
      throwReceiveError(error);
    }
    if (received == 0) continue;
    if (static_cast<std::size_t>(received) >= kReceiveBufferSize) {
      logOverrun(fmt::format("{}", received));
      continue;
    }
    handleReceived(static_cast<std::size_t>(received));
  }
  closeSocketIfOpen();
  onStopped();
}

void UdpReader::logOverrun(std::string_view count) {
  badDatagramLines.write("buffer overrun", fmt::format("buffer overrun: {} bytes", count), logLineIfRunning);
}

void UdpReader::handleReceived(std::size_t length) {
  buffer[length] = '\0';
  message = std::string_view(buffer.data(), length);
  datagramCount.fetch_add(1);
  if (!g_realTrafficOnThisPc.load()) {
    // RealTraffic on another PC may send every datagram more than once.
    if (message == previousDatagram) return;
    previousDatagram.assign(message);
  }
  processMessage();
}

void UdpReader::handleDatagram(std::string_view datagram) {
  if (datagram.empty()) return;
  if (datagram.size() >= kReceiveBufferSize) {
    logOverrun(fmt::format("{}", datagram.size()));
    return;
  }
  std::memmove(buffer.data(), datagram.data(), datagram.size());
  handleReceived(datagram.size());
}

void UdpReader::resetForTests() {
  message = {};
  stopRequested.store(false);
  datagramCount.store(0);
  lastSeenCount.store(0);
  previousDatagram.clear();
  buffer.fill('\0');
  badDatagramLines.reset();
}

void UdpReader::closeSocketIfOpen() {
  if (socket != INVALID_SOCKET) {
    closesocket(socket);
    socket = INVALID_SOCKET;
  }
  boundPort_.store(0);
}

void UdpReader::runThread(std::uint16_t port) {
  std::uint64_t generation = 0;
  if (!claimThread(generation)) return;
  ownGeneration_ = generation;
  struct Release {
    UdpReader& reader;
    ~Release() { reader.releaseThread(); }
  } release{*this};

  auto cleanUp = [this] {
    badDatagramLines.flush(true);
    closeSocketIfOpen();
    // Only a start-up of our own is ended: another reader's or the TCP link's must stay.
    if (winsockStarted_) {
      WSACleanup();
      winsockStarted_ = false;
    }
  };
  // Nothing may leave the thread's function: that would end the process.
  auto fail = [&](std::string_view text) noexcept {
    try {
      cleanUp();
      reportThreadStopped(name_, text);
      logReaderDisconnected(name_);
    } catch (...) {
    }
  };
  try {
    startWinsock();
    createSocket();
    bindPort(port);
    onConnected();
    logReaderConnected(name_);
    receiveLoop();
    cleanUp();
    logReaderDisconnected(name_);
  } catch (const std::exception& e) {
    fail(e.what());
  } catch (...) {
    fail("Unknown exception");
  }
}

bool UdpReader::claimThread(std::uint64_t& generation) {
  std::unique_lock lock(threadMutex_);
  // An earlier thread on this object sees the new generation at its next look and leaves.
  generation = generation_.fetch_add(1) + 1;
  const bool free = threadEnded_.wait_for(lock, kHandOverWait, [this] { return !threadActive_; });
  if (!free) {
    lock.unlock();
    reportThreadStopped(name_, "the reader of the previous run did not end");
    return false;
  }
  // A thread started after this one takes the object instead: leave it to that one.
  if (!stillOwner(generation)) return false;
  threadActive_ = true;
  return true;
}

void UdpReader::releaseThread() {
  // Notified under the lock: a waiter that sees the thread ended may let the reader (and its
  // condition variable) be destroyed at once, so nothing may touch it after the unlock.
  std::lock_guard lock(threadMutex_);
  threadActive_ = false;
  threadEnded_.notify_all();
}

bool UdpReader::threadRunning() const {
  std::lock_guard lock(threadMutex_);
  return threadActive_;
}

bool UdpReader::waitForThreadEnd(std::chrono::milliseconds bound) const {
  std::unique_lock lock(threadMutex_);
  return threadEnded_.wait_for(lock, bound, [this] { return !threadActive_; });
}

void logReaderConnected(std::string_view readerName) { logIndentedLine(fmt::format("{} connected", readerName)); }

void logReaderDisconnected(std::string_view readerName) {
  logIndentedLine(fmt::format("{} disconnected", readerName));
}

}  // namespace kvo

void trafficReaderThread(std::uint16_t port) { g_trafficReader.runThread(port); }

void qnhReaderThread(std::uint16_t port) { g_qnhReader.runThread(port); }

void updateReaderLamps() {
  if (!g_mainWindow.g_rtLinkUp.load()) return;
  kvo::updateLamp(g_qnhReader, g_mainWindow.g_qnhLamp, g_qnhLampShown);
  kvo::updateLamp(g_trafficReader, g_mainWindow.g_trafficLamp, g_trafficLampShown);
}

void resetReaderState() {
  // A reader told to stop may still be in its last select: clearing its flag now would keep
  // it running into the next run.
  constexpr std::chrono::milliseconds kStoppingWait{1500};
  for (kvo::UdpReader* reader : {static_cast<kvo::UdpReader*>(&g_trafficReader), static_cast<kvo::UdpReader*>(&g_qnhReader)}) {
    if (reader->stopRequested.load()) reader->waitForThreadEnd(kStoppingWait);
  }
  g_feedEpochTime.store(0.0);
  g_trafficReader.clearCallsigns();
  g_trafficReader.stopRequested.store(false);
  g_qnhReader.stopRequested.store(false);
  g_trafficLampShown.store(true);
  g_qnhLampShown.store(true);
  g_qnhReader.lastQnh.store(kvo::kStandardQnh);
  g_qnhReader.datagramCount.store(0);
  g_qnhReader.lastSeenCount.store(0);
}

void resetReadersForTests() {
  g_trafficReader.resetForTests();
  g_qnhReader.resetForTests();
  g_realTrafficOnThisPc.store(false);
  g_trafficLampShown.store(true);
  g_qnhLampShown.store(true);
  g_feedEpochTime.store(0.0);
  g_qnh.store(kvo::kStandardQnh);
}
