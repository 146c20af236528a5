// The system side of the Winsock stand-in: BSD socket calls with the Winsock behaviour the
// program relies on. Every socket handed out is registered; a call holds its socket open for
// its duration, so closesocket from another thread can wake the call (and the descriptor
// number is not reused under it) before the descriptor is really closed.

#include "platform/winsock/socket_os.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace kvo::winsockimpl {

static_assert(value::afUnspec == AF_UNSPEC && value::afInet == AF_INET);
static_assert(value::sockStream == SOCK_STREAM && value::sockDgram == SOCK_DGRAM);
static_assert(value::ipprotoIp == IPPROTO_IP && value::ipprotoTcp == IPPROTO_TCP &&
              value::ipprotoUdp == IPPROTO_UDP);
static_assert(value::solSocket == SOL_SOCKET && value::soReuseAddr == SO_REUSEADDR && value::soError == SO_ERROR &&
              value::soBroadcast == SO_BROADCAST && value::soSndBuf == SO_SNDBUF && value::soRcvBuf == SO_RCVBUF &&
              value::soKeepAlive == SO_KEEPALIVE && value::soRcvTimeo == SO_RCVTIMEO &&
              value::soSndTimeo == SO_SNDTIMEO);
static_assert(value::tcpNoDelay == TCP_NODELAY);
static_assert(value::msgOob == MSG_OOB && value::msgPeek == MSG_PEEK);
static_assert(value::shutRead == SHUT_RD && value::shutWrite == SHUT_WR && value::shutBoth == SHUT_RDWR);
static_assert(value::aiPassive == AI_PASSIVE && value::aiCanonName == AI_CANONNAME &&
              value::aiNumericHost == AI_NUMERICHOST);
static_assert(value::sockaddrSize == sizeof(sockaddr) && value::sockaddrInSize == sizeof(sockaddr_in));
static_assert(offsetof(sockaddr_in, sin_port) == 2 && offsetof(sockaddr_in, sin_addr) == 4);

namespace {

struct Entry {
  int fd = -1;
  int users = 0;
  bool closing = false;
  bool sendShutDown = false;
  // The time-outs as set, in milliseconds: the kernel rounds them to its clock ticks, while
  // Winsock reads back exactly what was set.
  std::uint32_t receiveTimeout = 0;
  std::uint32_t sendTimeout = 0;
};

struct SocketTable {
  std::mutex mutex;
  std::unordered_map<int, std::shared_ptr<Entry>> open;
};

SocketTable& sockets() {
  static SocketTable instance;
  return instance;
}

Outcome failure(int error) { return Outcome{-1, error}; }
Outcome success(long long value) { return Outcome{value, 0}; }

// Holds a registered socket open for the duration of one call.
class Use {
 public:
  explicit Use(Socket s) {
    if (s > static_cast<Socket>(INT_MAX)) {
      return;
    }
    auto& table = sockets();
    std::lock_guard lock(table.mutex);
    const auto found = table.open.find(static_cast<int>(s));
    if (found != table.open.end() && !found->second->closing) {
      entry_ = found->second;
      ++entry_->users;
    }
  }
  ~Use() {
    if (!entry_) {
      return;
    }
    int closeFd = -1;
    {
      std::lock_guard lock(sockets().mutex);
      if (--entry_->users == 0 && entry_->closing) {
        closeFd = entry_->fd;  // the last user of a socket closed meanwhile closes it
      }
    }
    if (closeFd >= 0) {
      close(closeFd);
    }
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;

  bool valid() const { return entry_ != nullptr; }
  int fd() const { return entry_->fd; }
  bool closedMeanwhile() const {
    std::lock_guard lock(sockets().mutex);
    return entry_->closing;
  }
  void markSendShutDown() {
    std::lock_guard lock(sockets().mutex);
    entry_->sendShutDown = true;
  }
  bool sendShutDown() const {
    std::lock_guard lock(sockets().mutex);
    return entry_->sendShutDown;
  }
  std::uint32_t& timeout(int name) {
    return name == SO_RCVTIMEO ? entry_->receiveTimeout : entry_->sendTimeout;
  }
  void setTimeout(int name, std::uint32_t milliseconds) {
    std::lock_guard lock(sockets().mutex);
    timeout(name) = milliseconds;
  }
  std::uint32_t getTimeout(int name) {
    std::lock_guard lock(sockets().mutex);
    return timeout(name);
  }

 private:
  std::shared_ptr<Entry> entry_;
};

void registerSocket(int fd) {
  auto entry = std::make_shared<Entry>();
  entry->fd = fd;
  auto& table = sockets();
  std::lock_guard lock(table.mutex);
  table.open[fd] = std::move(entry);
}

bool isBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_NONBLOCK) == 0;
}

// The Winsock reading of a failed call's errno.
int adjusted(const Use& use, int error) {
  if (use.closedMeanwhile()) {
    return EINTR;  // closesocket from another thread ended the call
  }
  if (error == EAGAIN || error == EWOULDBLOCK) {
    return isBlocking(use.fd()) ? ETIMEDOUT : EWOULDBLOCK;  // a blocking call timed out
  }
  return error;
}

// Runs a system call again after a signal, unless the socket was closed meanwhile.
template <typename Call>
long long retrying(const Use& use, Call call) {
  long long result = 0;
  do {
    result = call();
  } while (result < 0 && errno == EINTR && !use.closedMeanwhile());
  return result;
}

bool isBooleanOption(int level, int name) {
  return (level == SOL_SOCKET && (name == SO_REUSEADDR || name == SO_BROADCAST || name == SO_KEEPALIVE)) ||
         (level == IPPROTO_TCP && name == TCP_NODELAY);
}

bool isTimeoutOption(int level, int name) {
  return level == SOL_SOCKET && (name == SO_RCVTIMEO || name == SO_SNDTIMEO);
}

}  // namespace

Outcome openSocket(int family, int type, int protocol) {
  const int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    return failure(errno);
  }
  registerSocket(fd);
  return success(fd);
}

Outcome bindSocket(Socket s, const void* address, int length) {
  Use use(s);
  if (!use.valid()) return failure(ENOTSOCK);
  if (address == nullptr || length < 0) return failure(EFAULT);
  if (::bind(use.fd(), static_cast<const sockaddr*>(address), static_cast<socklen_t>(length)) != 0) {
    return failure(adjusted(use, errno));
  }
  return success(0);
}

Outcome listenSocket(Socket s, int backlog) {
  Use use(s);
  if (!use.valid()) return failure(ENOTSOCK);
  if (::listen(use.fd(), std::max(backlog, 0)) != 0) {
    return failure(adjusted(use, errno));
  }
  return success(0);
}

Outcome acceptSocket(Socket s, void* address, int* length) {
  Use use(s);
  if (!use.valid()) return failure(ENOTSOCK);
  if (address != nullptr && (length == nullptr || *length < 0)) return failure(EFAULT);
  socklen_t size = address != nullptr ? static_cast<socklen_t>(*length) : 0;
  const long long fd = retrying(use, [&] {
    return ::accept4(use.fd(), static_cast<sockaddr*>(address), address != nullptr ? &size : nullptr,
                     SOCK_CLOEXEC);
  });
  if (fd < 0 || use.closedMeanwhile()) {
    const int error = fd < 0 ? errno : EINTR;
    if (fd >= 0) {
      close(static_cast<int>(fd));
    }
    // A listening socket shut down under accept reports EINVAL: that is the close.
    return failure(adjusted(use, error));
  }
  if (address != nullptr) {
    *length = static_cast<int>(std::min<socklen_t>(size, static_cast<socklen_t>(*length)));
  }
  registerSocket(static_cast<int>(fd));
  return success(fd);
}

Outcome connectSocket(Socket s, const void* address, int length) {
  Use use(s);
  if (!use.valid()) return failure(ENOTSOCK);
  if (address == nullptr || length < 0) return failure(EFAULT);
  if (::connect(use.fd(), static_cast<const sockaddr*>(address), static_cast<socklen_t>(length)) != 0) {
    const int error = errno;
    // Winsock reports a non-blocking connect under way as "would block".
    return failure(error == EINPROGRESS ? EWOULDBLOCK : adjusted(use, error));
  }
  return success(0);
}

Outcome sendOn(Socket s, const void* data, std::size_t length, int flags, const void* to, int toLength) {
  Use use(s);
  if (!use.valid()) return failure(ENOTSOCK);
  if ((data == nullptr && length > 0) || (to != nullptr && toLength < 0)) return failure(EFAULT);
  const long long sent = retrying(use, [&] {
    return ::sendto(use.fd(), data, length, flags | MSG_NOSIGNAL, static_cast<const sockaddr*>(to),
                    to != nullptr ? static_cast<socklen_t>(toLength) : 0);
  });
  if (sent < 0) {
    const int error = errno;
    if (error == EPIPE) {
      // Writing after our own shutdown, else the peer has gone.
      return failure(use.closedMeanwhile() ? EINTR : use.sendShutDown() ? ESHUTDOWN : ECONNRESET);
    }
    return failure(adjusted(use, error));
  }
  return success(sent);
}

Outcome receiveOn(Socket s, void* buffer, std::size_t length, int flags, void* from, int* fromLength) {
  Use use(s);
  if (!use.valid()) return failure(ENOTSOCK);
  if ((buffer == nullptr && length > 0) || (from != nullptr && (fromLength == nullptr || *fromLength < 0))) {
    return failure(EFAULT);
  }
  iovec part{buffer, length};
  msghdr message{};
  message.msg_name = from;
  message.msg_namelen = from != nullptr ? static_cast<socklen_t>(*fromLength) : 0;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  const long long received = retrying(use, [&] { return ::recvmsg(use.fd(), &message, flags); });
  if (received < 0) {
    return failure(adjusted(use, errno));
  }
  if (use.closedMeanwhile()) {
    return failure(EINTR);  // woken by closesocket: not a graceful close by the peer
  }
  if (from != nullptr) {
    *fromLength = static_cast<int>(std::min<socklen_t>(message.msg_namelen, static_cast<socklen_t>(*fromLength)));
  }
  if ((message.msg_flags & MSG_TRUNC) != 0) {
    return failure(EMSGSIZE);  // the buffer holds the datagram's start; the rest is gone
  }
  return success(received);
}

Outcome socketName(Socket s, void* address, int* length) {
  Use use(s);
  if (!use.valid()) return failure(ENOTSOCK);
  if (address == nullptr || length == nullptr || *length < 0) return failure(EFAULT);
  socklen_t size = static_cast<socklen_t>(*length);
  if (::getsockname(use.fd(), static_cast<sockaddr*>(address), &size) != 0) {
    return failure(adjusted(use, errno));
  }
  if (size > static_cast<socklen_t>(*length)) {
    return failure(EFAULT);
  }
  *length = static_cast<int>(size);
  return success(0);
}

Outcome shutdownSocket(Socket s, int how) {
  Use use(s);
  if (!use.valid()) return failure(ENOTSOCK);
  if (::shutdown(use.fd(), how) != 0) {
    return failure(adjusted(use, errno));
  }
  if (how == SHUT_WR || how == SHUT_RDWR) {
    use.markSendShutDown();
  }
  return success(0);
}

Outcome closeSocket(Socket s) {
  if (s > static_cast<Socket>(INT_MAX)) {
    return failure(ENOTSOCK);
  }
  auto& table = sockets();
  int fd = -1;
  bool inUse = false;
  {
    std::lock_guard lock(table.mutex);
    const auto found = table.open.find(static_cast<int>(s));
    if (found == table.open.end()) {
      return failure(ENOTSOCK);
    }
    found->second->closing = true;
    fd = found->second->fd;
    inUse = found->second->users > 0;
    table.open.erase(found);
  }
  if (inUse) {
    // Wake the calls blocked on it; the last of them closes the descriptor.
    ::shutdown(fd, SHUT_RDWR);
  } else {
    close(fd);
  }
  return success(0);
}

Outcome setOption(Socket s, int level, int name, const void* data, int length) {
  Use use(s);
  if (!use.valid()) return failure(ENOTSOCK);
  if (data == nullptr || length <= 0) return failure(EFAULT);
  if (isTimeoutOption(level, name)) {
    if (length < 4) return failure(EFAULT);
    std::uint32_t milliseconds = 0;
    std::memcpy(&milliseconds, data, sizeof milliseconds);
    const timeval time{static_cast<time_t>(milliseconds / 1000), static_cast<suseconds_t>((milliseconds % 1000) * 1000)};
    if (::setsockopt(use.fd(), level, name, &time, sizeof time) != 0) return failure(adjusted(use, errno));
    use.setTimeout(name, milliseconds);
    return success(0);
  }
  if (length < static_cast<int>(sizeof(int))) {
    if (!isBooleanOption(level, name)) return failure(EFAULT);
    const int flag = *static_cast<const unsigned char*>(data) != 0 ? 1 : 0;
    if (::setsockopt(use.fd(), level, name, &flag, sizeof flag) != 0) return failure(adjusted(use, errno));
    return success(0);
  }
  if (::setsockopt(use.fd(), level, name, data, static_cast<socklen_t>(length)) != 0) {
    return failure(adjusted(use, errno));
  }
  return success(0);
}

Outcome getOption(Socket s, int level, int name, void* data, int* length) {
  Use use(s);
  if (!use.valid()) return failure(ENOTSOCK);
  if (data == nullptr || length == nullptr || *length < 0) return failure(EFAULT);
  if (isTimeoutOption(level, name)) {
    if (*length < 4) return failure(EFAULT);
    const std::uint32_t milliseconds = use.getTimeout(name);
    std::memcpy(data, &milliseconds, sizeof milliseconds);
    *length = sizeof milliseconds;
    return success(0);
  }
  socklen_t size = static_cast<socklen_t>(*length);
  if (::getsockopt(use.fd(), level, name, data, &size) != 0) {
    return failure(adjusted(use, errno));
  }
  *length = static_cast<int>(size);
  return success(0);
}

Outcome setNonBlocking(Socket s, bool nonBlocking) {
  Use use(s);
  if (!use.valid()) return failure(ENOTSOCK);
  const int flags = fcntl(use.fd(), F_GETFL);
  if (flags < 0) return failure(adjusted(use, errno));
  const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (wanted != flags && fcntl(use.fd(), F_SETFL, wanted) != 0) return failure(adjusted(use, errno));
  return success(0);
}

Outcome pollSockets(std::vector<PollEntry>& entries, long long timeoutMicroseconds) {
  // Keep every socket open for the wait; an unknown one fails the whole call, as in Winsock.
  std::vector<std::unique_ptr<Use>> uses;
  std::vector<pollfd> polled;
  uses.reserve(entries.size());
  polled.reserve(entries.size());
  for (const auto& entry : entries) {
    uses.push_back(std::make_unique<Use>(entry.socket));
    if (!uses.back()->valid()) {
      return failure(ENOTSOCK);
    }
    short events = 0;
    if (entry.wantRead) events |= POLLIN;
    if (entry.wantWrite) events |= POLLOUT;
    if (entry.wantExcept) events |= POLLPRI;
    polled.push_back(pollfd{uses.back()->fd(), events, 0});
  }
  using Clock = std::chrono::steady_clock;
  const bool forever = timeoutMicroseconds < 0;
  const auto deadline = Clock::now() + std::chrono::microseconds(forever ? 0 : timeoutMicroseconds);
  int ready = 0;
  for (;;) {
    timespec wait{};
    if (!forever) {
      const auto left = std::max<long long>(
          0, std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count());
      wait.tv_sec = static_cast<time_t>(left / 1000000000);
      wait.tv_nsec = static_cast<long>(left % 1000000000);
    }
    ready = ::ppoll(polled.data(), polled.size(), forever ? nullptr : &wait, nullptr);
    if (ready >= 0 || errno != EINTR) {
      break;
    }
  }
  if (ready < 0) {
    return failure(errno);
  }
  for (const auto& use : uses) {
    if (use->closedMeanwhile()) {
      return failure(EINTR);
    }
  }
  long long count = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    auto& entry = entries[i];
    const short got = polled[i].revents;
    // Readable also covers a closed or failed connection: recv then reports it.
    entry.readReady = entry.wantRead && (got & (POLLIN | POLLHUP | POLLERR)) != 0;
    entry.writeReady = entry.wantWrite && (got & POLLOUT) != 0;
    entry.exceptReady = entry.wantExcept && (got & (POLLPRI | POLLERR)) != 0;
    count += (entry.readReady ? 1 : 0) + (entry.writeReady ? 1 : 0) + (entry.exceptReady ? 1 : 0);
  }
  return success(count);
}

ResolveResult resolve(const char* node, const char* service, bool withHints, int flags, int family, int socketType,
                      int protocol) {
  ResolveResult result;
  addrinfo hints{};
  hints.ai_flags = flags;
  hints.ai_family = family;
  hints.ai_socktype = socketType;
  hints.ai_protocol = protocol;
  addrinfo* list = nullptr;
  const int status = ::getaddrinfo(node, service, withHints ? &hints : nullptr, &list);
  switch (status) {
    case 0:
      break;
    case EAI_NONAME:
      result.error = ResolveError::NoName;
      return result;
    case EAI_SERVICE:
      result.error = ResolveError::Service;
      return result;
    case EAI_FAMILY:
    case EAI_ADDRFAMILY:
      result.error = ResolveError::Family;
      return result;
    case EAI_SOCKTYPE:
      result.error = ResolveError::SocketType;
      return result;
    case EAI_AGAIN:
      result.error = ResolveError::Again;
      return result;
    case EAI_MEMORY:
      result.error = ResolveError::Memory;
      return result;
    case EAI_BADFLAGS:
      result.error = ResolveError::BadFlags;
      return result;
    case EAI_NODATA:
      result.error = ResolveError::NoData;
      return result;
    case EAI_SYSTEM:
      result.error = ResolveError::System;
      result.systemError = errno;
      return result;
    default:
      result.error = ResolveError::Fail;
      return result;
  }
  for (const addrinfo* item = list; item != nullptr; item = item->ai_next) {
    ResolvedAddress address{item->ai_flags, item->ai_family, item->ai_socktype, item->ai_protocol, {}, {}};
    const auto* bytes = reinterpret_cast<const unsigned char*>(item->ai_addr);
    if (bytes != nullptr) {
      address.address.assign(bytes, bytes + item->ai_addrlen);
    }
    if (item->ai_canonname != nullptr) {
      address.canonicalName = item->ai_canonname;
    }
    result.addresses.push_back(std::move(address));
  }
  ::freeaddrinfo(list);
  return result;
}

int parseAddress(int family, const char* text, void* address) {
  if (family != AF_INET) {
    return -1;
  }
  return ::inet_pton(AF_INET, text, address);
}

std::size_t openSocketCount() {
  auto& table = sockets();
  std::lock_guard lock(table.mutex);
  return table.open.size();
}

void closeAllSockets() {
  std::vector<Socket> open;
  {
    auto& table = sockets();
    std::lock_guard lock(table.mutex);
    for (const auto& entry : table.open) {
      open.push_back(static_cast<Socket>(entry.first));
    }
  }
  for (const Socket s : open) {
    closeSocket(s);
  }
}

}  // namespace kvo::winsockimpl
