// The Winsock side of the stand-in: argument rules, the start-up count, the Winsock structures
// and error codes. The system calls themselves are in socket_os.cpp.

#include "platform/winsock/winsock.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/winsock/socket_os.h"
#include "platform/winsock/testing.h"

namespace os = kvo::winsockimpl;

namespace kvo::winsockimpl {
namespace {

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
static_assert(value::shutRead == SD_RECEIVE && value::shutWrite == SD_SEND && value::shutBoth == SD_BOTH);
static_assert(value::aiPassive == AI_PASSIVE && value::aiCanonName == AI_CANONNAME &&
              value::aiNumericHost == AI_NUMERICHOST);
static_assert(value::sockaddrSize == sizeof(sockaddr) && value::sockaddrInSize == sizeof(sockaddr_in));
static_assert(sizeof(SOCKET) == sizeof(Socket));

constexpr WORD kHighestVersion = MAKEWORD(2, 2);

struct StartupCount {
  std::mutex mutex;
  int count = 0;
};

StartupCount& startups() {
  static StartupCount instance;
  return instance;
}

bool started() {
  auto& s = startups();
  std::lock_guard lock(s.mutex);
  return s.count > 0;
}

int winsockCode(int error) {
  switch (error) {
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EWOULDBLOCK: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEINPROGRESS;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSASYSCALLFAILURE;
  }
}

int fail(int winsockError) {
  WSASetLastError(winsockError);
  return SOCKET_ERROR;
}

// SOCKET_ERROR with the error set, or the value.
long long finish(const Outcome& outcome) {
  if (outcome.value < 0) {
    return fail(winsockCode(outcome.error));
  }
  return outcome.value;
}

int finishInt(const Outcome& outcome) { return static_cast<int>(finish(outcome)); }

// Common checks before any socket call: start-up done, a socket value given.
bool ready(SOCKET s) {
  if (!started()) {
    fail(WSANOTINITIALISED);
    return false;
  }
  if (s == INVALID_SOCKET) {
    fail(WSAENOTSOCK);
    return false;
  }
  return true;
}

void copyInto(char* target, std::size_t size, const char* text) {
  std::strncpy(target, text, size - 1);
  target[size - 1] = '\0';
}

}  // namespace
}  // namespace kvo::winsockimpl

using kvo::winsockimpl::finish;
using kvo::winsockimpl::finishInt;
using kvo::winsockimpl::ready;

int WSAStartup(WORD versionRequested, WSADATA* data) {
  using namespace kvo::winsockimpl;
  const BYTE major = static_cast<BYTE>(versionRequested & 0xFF);
  if (major == 0) {
    return WSAVERNOTSUPPORTED;
  }
  if (data == nullptr) {
    return WSAEFAULT;
  }
  const BYTE minor = static_cast<BYTE>(versionRequested >> 8);
  const bool above = major > 2 || (major == 2 && minor > 2);
  *data = WSADATA{};
  data->wVersion = above ? kHighestVersion : versionRequested;
  data->wHighVersion = kHighestVersion;
  copyInto(data->szDescription, sizeof data->szDescription, "Sockets over the system's BSD sockets");
  copyInto(data->szSystemStatus, sizeof data->szSystemStatus, "Running");
  auto& s = startups();
  std::lock_guard lock(s.mutex);
  ++s.count;
  return 0;
}

int WSACleanup() {
  auto& s = kvo::winsockimpl::startups();
  std::lock_guard lock(s.mutex);
  if (s.count == 0) {
    return kvo::winsockimpl::fail(WSANOTINITIALISED);
  }
  --s.count;
  return 0;
}

int WSAGetLastError() { return static_cast<int>(GetLastError()); }

void WSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }

SOCKET socket(int family, int type, int protocol) {
  if (!kvo::winsockimpl::started()) {
    kvo::winsockimpl::fail(WSANOTINITIALISED);
    return INVALID_SOCKET;
  }
  const auto outcome = os::openSocket(family, type, protocol);
  if (outcome.value < 0) {
    finish(outcome);
    return INVALID_SOCKET;
  }
  return static_cast<SOCKET>(outcome.value);
}

int bind(SOCKET s, const sockaddr* address, int length) {
  if (!ready(s)) return SOCKET_ERROR;
  return finishInt(os::bindSocket(s, address, length));
}

int listen(SOCKET s, int backlog) {
  if (!ready(s)) return SOCKET_ERROR;
  return finishInt(os::listenSocket(s, backlog));
}

SOCKET accept(SOCKET s, sockaddr* address, int* length) {
  if (!ready(s)) return INVALID_SOCKET;
  const auto outcome = os::acceptSocket(s, address, length);
  if (outcome.value < 0) {
    finish(outcome);
    return INVALID_SOCKET;
  }
  return static_cast<SOCKET>(outcome.value);
}

int connect(SOCKET s, const sockaddr* address, int length) {
  if (!ready(s)) return SOCKET_ERROR;
  return finishInt(os::connectSocket(s, address, length));
}

int send(SOCKET s, const char* data, int length, int flags) {
  if (!ready(s)) return SOCKET_ERROR;
  if (length < 0) return kvo::winsockimpl::fail(WSAEINVAL);
  return finishInt(os::sendOn(s, data, static_cast<std::size_t>(length), flags, nullptr, 0));
}

int recv(SOCKET s, char* buffer, int length, int flags) {
  if (!ready(s)) return SOCKET_ERROR;
  if (length < 0) return kvo::winsockimpl::fail(WSAEINVAL);
  return finishInt(os::receiveOn(s, buffer, static_cast<std::size_t>(length), flags, nullptr, nullptr));
}

int sendto(SOCKET s, const char* data, int length, int flags, const sockaddr* to, int toLength) {
  if (!ready(s)) return SOCKET_ERROR;
  if (length < 0) return kvo::winsockimpl::fail(WSAEINVAL);
  return finishInt(os::sendOn(s, data, static_cast<std::size_t>(length), flags, to, toLength));
}

int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength) {
  if (!ready(s)) return SOCKET_ERROR;
  if (length < 0) return kvo::winsockimpl::fail(WSAEINVAL);
  // Winsock wants room for at least a whole sockaddr when the source is asked for.
  if (from != nullptr && (fromLength == nullptr || *fromLength < static_cast<int>(sizeof(sockaddr)))) {
    return kvo::winsockimpl::fail(WSAEFAULT);
  }
  return finishInt(os::receiveOn(s, buffer, static_cast<std::size_t>(length), flags, from, fromLength));
}

int getsockname(SOCKET s, sockaddr* address, int* length) {
  if (!ready(s)) return SOCKET_ERROR;
  return finishInt(os::socketName(s, address, length));
}

int shutdown(SOCKET s, int how) {
  if (!ready(s)) return SOCKET_ERROR;
  if (how != SD_RECEIVE && how != SD_SEND && how != SD_BOTH) return kvo::winsockimpl::fail(WSAEINVAL);
  return finishInt(os::shutdownSocket(s, how));
}

int closesocket(SOCKET s) {
  if (!ready(s)) return SOCKET_ERROR;
  return finishInt(os::closeSocket(s));
}

int setsockopt(SOCKET s, int level, int name, const char* value, int length) {
  if (!ready(s)) return SOCKET_ERROR;
  return finishInt(os::setOption(s, level, name, value, length));
}

int getsockopt(SOCKET s, int level, int name, char* value, int* length) {
  if (!ready(s)) return SOCKET_ERROR;
  if (value == nullptr || length == nullptr) return kvo::winsockimpl::fail(WSAEFAULT);
  const int result = finishInt(os::getOption(s, level, name, value, length));
  if (result == 0 && level == SOL_SOCKET && name == SO_ERROR && *length >= static_cast<int>(sizeof(int))) {
    int error = 0;
    std::memcpy(&error, value, sizeof error);
    if (error != 0) {
      error = kvo::winsockimpl::winsockCode(error);  // pending errors read as Winsock codes
      std::memcpy(value, &error, sizeof error);
    }
  }
  return result;
}

int ioctlsocket(SOCKET s, long command, u_long* argument) {
  if (!ready(s)) return SOCKET_ERROR;
  if (argument == nullptr) return kvo::winsockimpl::fail(WSAEFAULT);
  if (command != FIONBIO) return kvo::winsockimpl::fail(WSAEINVAL);
  return finishInt(os::setNonBlocking(s, *argument != 0));
}

int select(int /*ignored*/, fd_set* readSet, fd_set* writeSet, fd_set* exceptSet, const timeval* timeout) {
  using kvo::winsockimpl::fail;
  if (!kvo::winsockimpl::started()) return fail(WSANOTINITIALISED);
  if (timeout != nullptr && (timeout->tv_sec < 0 || timeout->tv_usec < 0)) return fail(WSAEINVAL);

  std::vector<os::PollEntry> entries;
  auto add = [&entries](fd_set* set, bool os::PollEntry::*want) {
    if (set == nullptr) return;
    const unsigned int count = std::min(set->fd_count, FD_SETSIZE);
    for (unsigned int i = 0; i < count; ++i) {
      const SOCKET s = set->fd_array[i];
      auto found = std::find_if(entries.begin(), entries.end(), [s](const auto& e) { return e.socket == s; });
      if (found == entries.end()) {
        entries.push_back(os::PollEntry{s, false, false, false, false, false, false});
        found = entries.end() - 1;
      }
      (*found).*want = true;
    }
  };
  add(readSet, &os::PollEntry::wantRead);
  add(writeSet, &os::PollEntry::wantWrite);
  add(exceptSet, &os::PollEntry::wantExcept);
  if (entries.empty()) {
    return fail(WSAEINVAL);  // nothing to wait for, as Winsock rules
  }

  long long microseconds = -1;
  if (timeout != nullptr) {
    constexpr long long kMaxSeconds = LLONG_MAX / 1000000 - 1;
    const long long seconds = std::min<long long>(timeout->tv_sec, kMaxSeconds);
    microseconds = seconds * 1000000 + std::min<long long>(timeout->tv_usec, 999999);
  }
  const auto outcome = os::pollSockets(entries, microseconds);
  if (outcome.value < 0) {
    return static_cast<int>(finish(outcome));
  }
  // Each set keeps only its ready sockets, in their order.
  auto keep = [&entries](fd_set* set, bool os::PollEntry::*isReady) {
    if (set == nullptr) return;
    const unsigned int count = std::min(set->fd_count, FD_SETSIZE);
    unsigned int kept = 0;
    for (unsigned int i = 0; i < count; ++i) {
      const SOCKET s = set->fd_array[i];
      const auto found = std::find_if(entries.begin(), entries.end(), [s](const auto& e) { return e.socket == s; });
      if (found != entries.end() && (*found).*isReady) {
        set->fd_array[kept++] = s;
      }
    }
    set->fd_count = kept;
  };
  keep(readSet, &os::PollEntry::readReady);
  keep(writeSet, &os::PollEntry::writeReady);
  keep(exceptSet, &os::PollEntry::exceptReady);
  return static_cast<int>(outcome.value);
}

int inet_pton(int family, const char* text, void* address) {
  if (text == nullptr || address == nullptr) {
    kvo::winsockimpl::fail(WSAEFAULT);
    return -1;
  }
  const int result = os::parseAddress(family, text, address);
  if (result < 0) {
    kvo::winsockimpl::fail(WSAEAFNOSUPPORT);
  }
  return result;
}

int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
  using os::ResolveError;
  if (result == nullptr) {
    WSASetLastError(WSAEINVAL);
    return WSAEINVAL;
  }
  *result = nullptr;
  if (!kvo::winsockimpl::started()) {
    WSASetLastError(WSANOTINITIALISED);
    return WSANOTINITIALISED;
  }
  if (node == nullptr && service == nullptr) {
    WSASetLastError(WSAHOST_NOT_FOUND);
    return WSAHOST_NOT_FOUND;
  }
  const auto resolved = hints != nullptr
                            ? os::resolve(node, service, true, hints->ai_flags, hints->ai_family,
                                          hints->ai_socktype, hints->ai_protocol)
                            : os::resolve(node, service, false, 0, 0, 0, 0);
  int code = 0;
  switch (resolved.error) {
    case ResolveError::None: code = 0; break;
    case ResolveError::NoName: code = WSAHOST_NOT_FOUND; break;
    case ResolveError::Service: code = WSATYPE_NOT_FOUND; break;
    case ResolveError::Family: code = WSAEAFNOSUPPORT; break;
    case ResolveError::SocketType: code = WSAESOCKTNOSUPPORT; break;
    case ResolveError::Again: code = WSATRY_AGAIN; break;
    case ResolveError::Memory: code = WSAENOBUFS; break;
    case ResolveError::BadFlags: code = WSAEINVAL; break;
    case ResolveError::NoData: code = WSANO_DATA; break;
    case ResolveError::System: code = kvo::winsockimpl::winsockCode(resolved.systemError); break;
    case ResolveError::Fail: code = WSANO_RECOVERY; break;
  }
  if (code != 0) {
    WSASetLastError(code);
    return code;
  }
  // One allocation per entry: the record, then its address, then its canonical name.
  addrinfo* head = nullptr;
  addrinfo** tail = &head;
  for (const auto& item : resolved.addresses) {
    const std::size_t nameSize = item.canonicalName.empty() ? 0 : item.canonicalName.size() + 1;
    auto* block = static_cast<unsigned char*>(
        ::operator new(sizeof(addrinfo) + item.address.size() + nameSize, std::nothrow));
    if (block == nullptr) {
      freeaddrinfo(head);
      WSASetLastError(WSAENOBUFS);
      return WSAENOBUFS;
    }
    auto* entry = new (block) addrinfo{};
    entry->ai_flags = item.flags;
    entry->ai_family = item.family;
    entry->ai_socktype = item.socketType;
    entry->ai_protocol = item.protocol;
    entry->ai_addrlen = item.address.size();
    unsigned char* addressBytes = block + sizeof(addrinfo);
    std::memcpy(addressBytes, item.address.data(), item.address.size());
    entry->ai_addr = item.address.empty() ? nullptr : reinterpret_cast<sockaddr*>(addressBytes);
    if (nameSize > 0) {
      char* name = reinterpret_cast<char*>(addressBytes + item.address.size());
      std::memcpy(name, item.canonicalName.c_str(), nameSize);
      entry->ai_canonname = name;
    }
    *tail = entry;
    tail = &entry->ai_next;
  }
  *result = head;
  return 0;
}

void freeaddrinfo(addrinfo* list) {
  while (list != nullptr) {
    addrinfo* next = list->ai_next;
    list->~addrinfo();
    ::operator delete(static_cast<void*>(list));
    list = next;
  }
}

// ---- test hooks ------------------------------------------------------------------------------

namespace kvo::winsocktest {

std::size_t openSocketCount() { return os::openSocketCount(); }

int startupCount() {
  auto& s = kvo::winsockimpl::startups();
  std::lock_guard lock(s.mutex);
  return s.count;
}

void resetWinsock() {
  os::closeAllSockets();
  auto& s = kvo::winsockimpl::startups();
  std::lock_guard lock(s.mutex);
  s.count = 0;
}

}  // namespace kvo::winsocktest
