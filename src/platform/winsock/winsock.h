#pragma once
// Stand-in for the Winsock 2.2 calls the program makes, over the system's BSD sockets. Only what
// the program calls is declared, with the Winsock names, sizes and error codes, so the program's
// socket code and its error texts are those it has on Windows.
//
// Program code includes only this header for sockets. It must not be combined in one source
// file with the system's socket headers (sys/socket.h, netinet/in.h, netdb.h): those declare
// the same names with the system's meaning. Test hooks live in platform/winsock/testing.h.

// glibc's select(), fd_set, struct timeval and FD_* macros reach every source file through the
// standard library headers. Taking them in first, here, fixes the order: glibc's fd_set keeps
// its name inside glibc, and the Winsock fd_set below takes over the name for program code.
#include <sys/select.h>

#include <cstddef>
#include <cstdint>

#include "platform/win32/win32.h"

// ---- basic types -------------------------------------------------------------------------------
using SOCKET = UINT_PTR;
constexpr SOCKET INVALID_SOCKET = ~static_cast<SOCKET>(0);
constexpr int SOCKET_ERROR = -1;

typedef unsigned short u_short;  // same types as the system's declarations of these names
typedef unsigned long u_long;

// ---- start-up -----------------------------------------------------------------------------------
constexpr WORD MAKEWORD(BYTE low, BYTE high) {
  return static_cast<WORD>(low | (static_cast<WORD>(high) << 8));
}

struct WSADATA {
  WORD wVersion;      // the version the caller will use
  WORD wHighVersion;  // the highest version supported
  char szDescription[257];
  char szSystemStatus[129];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
};

// Reference-counted: every successful start-up needs its own clean-up. Returns 0 or an error
// code (not through WSAGetLastError).
int WSAStartup(WORD versionRequested, WSADATA* data);
// 0, or SOCKET_ERROR with WSANOTINITIALISED when there was no start-up left to end.
int WSACleanup();
// The error of the thread's last failed socket call (the same value as GetLastError).
int WSAGetLastError();
void WSASetLastError(int error);

// ---- error codes ----------------------------------------------------------------------------------
constexpr int WSAEINTR = 10004;  // also: a blocking call ended because its socket was closed
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSASYSCALLFAILURE = 10107;
constexpr int WSATYPE_NOT_FOUND = 10109;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// ---- addresses ------------------------------------------------------------------------------------
// Family, type, protocol, level and option values are the system's own (checked when the
// stand-in is built), so they pass through unchanged.
constexpr int AF_UNSPEC = 0;
constexpr int AF_INET = 2;
constexpr int SOCK_STREAM = 1;
constexpr int SOCK_DGRAM = 2;
constexpr int IPPROTO_IP = 0;
constexpr int IPPROTO_TCP = 6;
constexpr int IPPROTO_UDP = 17;

// Same memory layout as the system's structures, so they pass through unchanged.
struct in_addr {
  std::uint32_t s_addr;  // network byte order
};
struct sockaddr {
  u_short sa_family;
  char sa_data[14];
};
struct sockaddr_in {
  u_short sin_family;
  u_short sin_port;  // network byte order
  in_addr sin_addr;
  char sin_zero[8];
};

constexpr std::uint32_t INADDR_ANY = 0x00000000u;       // host byte order, as htonl expects
constexpr std::uint32_t INADDR_LOOPBACK = 0x7F000001u;  // 127.0.0.1
constexpr std::uint32_t INADDR_NONE = 0xFFFFFFFFu;

constexpr std::uint16_t htons(std::uint16_t value) {
  return static_cast<std::uint16_t>((value << 8) | (value >> 8));
}
constexpr std::uint16_t ntohs(std::uint16_t value) { return htons(value); }
constexpr std::uint32_t htonl(std::uint32_t value) {
  return ((value & 0x000000FFu) << 24) | ((value & 0x0000FF00u) << 8) | ((value & 0x00FF0000u) >> 8) |
         ((value & 0xFF000000u) >> 24);
}
constexpr std::uint32_t ntohl(std::uint32_t value) { return htonl(value); }
// The stand-in runs on little-endian machines only, as Windows does.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "network byte order helpers assume little endian");

// Text to address: 1 converted, 0 not an address of the family, -1 with WSAEAFNOSUPPORT.
int inet_pton(int family, const char* text, void* address);

// Name and service resolution. The list is the stand-in's own allocation: free it with
// freeaddrinfo. Returns 0 or a Winsock error code (WSAHOST_NOT_FOUND, WSATYPE_NOT_FOUND, ...).
constexpr int AI_PASSIVE = 0x0001;
constexpr int AI_CANONNAME = 0x0002;
constexpr int AI_NUMERICHOST = 0x0004;
struct addrinfo {
  int ai_flags;
  int ai_family;
  int ai_socktype;
  int ai_protocol;
  std::size_t ai_addrlen;
  char* ai_canonname;
  sockaddr* ai_addr;
  addrinfo* ai_next;
};
int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result);
void freeaddrinfo(addrinfo* list);

// ---- sockets --------------------------------------------------------------------------------------
constexpr int SOMAXCONN = 0x7FFFFFFF;  // the system's own maximum
constexpr int MSG_OOB = 0x1;
constexpr int MSG_PEEK = 0x2;
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

SOCKET socket(int family, int type, int protocol);
int bind(SOCKET s, const sockaddr* address, int length);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* address, int* length);
int connect(SOCKET s, const sockaddr* address, int length);
// Never raises a signal when the peer has gone: the call fails with WSAECONNRESET instead.
int send(SOCKET s, const char* data, int length, int flags);
// A datagram larger than the buffer fills it and fails with WSAEMSGSIZE; the rest is lost.
int recv(SOCKET s, char* buffer, int length, int flags);
int sendto(SOCKET s, const char* data, int length, int flags, const sockaddr* to, int toLength);
int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength);
int getsockname(SOCKET s, sockaddr* address, int* length);
int shutdown(SOCKET s, int how);
// Also ends, with WSAEINTR, any call blocked on the socket in another thread.
int closesocket(SOCKET s);

// ---- options --------------------------------------------------------------------------------------
constexpr int SOL_SOCKET = 1;
constexpr int SO_REUSEADDR = 2;
constexpr int SO_ERROR = 4;  // read as a Winsock error code
constexpr int SO_BROADCAST = 6;
constexpr int SO_SNDBUF = 7;
constexpr int SO_RCVBUF = 8;
constexpr int SO_KEEPALIVE = 9;
constexpr int SO_RCVTIMEO = 20;  // a DWORD of milliseconds, 0 for none
constexpr int SO_SNDTIMEO = 21;  // a DWORD of milliseconds, 0 for none
constexpr int TCP_NODELAY = 1;   // level IPPROTO_TCP

// Boolean options also take a single byte, as Winsock accepts.
int setsockopt(SOCKET s, int level, int name, const char* value, int length);
int getsockopt(SOCKET s, int level, int name, char* value, int* length);

constexpr long FIONBIO = 0x5421;  // *argument nonzero: non-blocking mode
int ioctlsocket(SOCKET s, long command, u_long* argument);

// ---- select ---------------------------------------------------------------------------------------
// The Winsock fd_set: a count and an array of sockets, so any socket value fits, however large
// its descriptor. The name is taken over from glibc's bit mask for the rest of the file.
#undef FD_SETSIZE
#undef FD_SET
#undef FD_CLR
#undef FD_ISSET
#undef FD_ZERO
constexpr unsigned int FD_SETSIZE = 64;
struct WinsockFdSet {
  unsigned int fd_count;
  SOCKET fd_array[FD_SETSIZE];
};
#define fd_set WinsockFdSet

inline void FD_ZERO(fd_set* set) { set->fd_count = 0; }
// A socket already in the set, or a full set, leaves the set as it is.
inline void FD_SET(SOCKET s, fd_set* set) {
  for (unsigned int i = 0; i < set->fd_count; ++i) {
    if (set->fd_array[i] == s) {
      return;
    }
  }
  if (set->fd_count < FD_SETSIZE) {
    set->fd_array[set->fd_count++] = s;
  }
}
inline void FD_CLR(SOCKET s, fd_set* set) {
  for (unsigned int i = 0; i < set->fd_count; ++i) {
    if (set->fd_array[i] == s) {
      for (unsigned int j = i + 1; j < set->fd_count; ++j) {
        set->fd_array[j - 1] = set->fd_array[j];
      }
      --set->fd_count;
      return;
    }
  }
}
inline int FD_ISSET(SOCKET s, const fd_set* set) {
  for (unsigned int i = 0; i < set->fd_count; ++i) {
    if (set->fd_array[i] == s) {
      return 1;
    }
  }
  return 0;
}

// `timeval` is the system's struct (whole seconds and microseconds, as in Winsock). The first
// argument is ignored, as on Windows. Returns the number of ready entries over all three sets
// (each set keeps only its ready sockets), 0 on time-out, or SOCKET_ERROR; all sets empty is
// WSAEINVAL. Works for any descriptor number.
int select(int ignored, fd_set* readSet, fd_set* writeSet, fd_set* exceptSet, const timeval* timeout);
