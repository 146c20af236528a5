#pragma once
// The bridge between the Winsock stand-in (winsock.cpp, which sees only the Winsock names) and
// the system's sockets (socket_os.cpp, which sees only the system's names). The two sets of
// declarations cannot meet in one source file, so this header uses neither: plain integers,
// byte buffers and errno values. Program code never includes it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kvo::winsockimpl {

using Socket = std::uintptr_t;

// Values that winsock.h gives the program and that must equal the system's. Both sides check
// their own declarations against this list at compile time.
namespace value {
inline constexpr int afUnspec = 0;
inline constexpr int afInet = 2;
inline constexpr int sockStream = 1;
inline constexpr int sockDgram = 2;
inline constexpr int ipprotoIp = 0;
inline constexpr int ipprotoTcp = 6;
inline constexpr int ipprotoUdp = 17;
inline constexpr int solSocket = 1;
inline constexpr int soReuseAddr = 2;
inline constexpr int soError = 4;
inline constexpr int soBroadcast = 6;
inline constexpr int soSndBuf = 7;
inline constexpr int soRcvBuf = 8;
inline constexpr int soKeepAlive = 9;
inline constexpr int soRcvTimeo = 20;
inline constexpr int soSndTimeo = 21;
inline constexpr int tcpNoDelay = 1;
inline constexpr int msgOob = 0x1;
inline constexpr int msgPeek = 0x2;
inline constexpr int shutRead = 0;
inline constexpr int shutWrite = 1;
inline constexpr int shutBoth = 2;
inline constexpr int aiPassive = 0x1;
inline constexpr int aiCanonName = 0x2;
inline constexpr int aiNumericHost = 0x4;
inline constexpr std::size_t sockaddrSize = 16;
inline constexpr std::size_t sockaddrInSize = 16;
}  // namespace value

// A call's outcome: value >= 0 on success; -1 with `error`, an errno value already adjusted to
// the Winsock meaning (ENOTSOCK for an unknown socket, EINTR for a call ended by closesocket,
// ETIMEDOUT for a blocking time-out, EMSGSIZE for a cut datagram, EWOULDBLOCK for a connect in
// progress, ESHUTDOWN for a send after our own shutdown).
struct Outcome {
  long long value;
  int error;
};

Outcome openSocket(int family, int type, int protocol);
Outcome bindSocket(Socket s, const void* address, int length);
Outcome listenSocket(Socket s, int backlog);
Outcome acceptSocket(Socket s, void* address, int* length);
Outcome connectSocket(Socket s, const void* address, int length);
Outcome sendOn(Socket s, const void* data, std::size_t length, int flags, const void* to, int toLength);
Outcome receiveOn(Socket s, void* buffer, std::size_t length, int flags, void* from, int* fromLength);
Outcome socketName(Socket s, void* address, int* length);
Outcome shutdownSocket(Socket s, int how);
Outcome closeSocket(Socket s);
// Options arrive in the Winsock forms (DWORD milliseconds for the time-outs, a single byte for
// boolean options) and are converted here.
Outcome setOption(Socket s, int level, int name, const void* data, int length);
Outcome getOption(Socket s, int level, int name, void* data, int* length);
Outcome setNonBlocking(Socket s, bool nonBlocking);

struct PollEntry {
  Socket socket;
  bool wantRead, wantWrite, wantExcept;
  bool readReady, writeReady, exceptReady;
};
// Waits until an entry is ready or the time-out (microseconds, -1 for none) has passed;
// value = the number of ready flags.
Outcome pollSockets(std::vector<PollEntry>& entries, long long timeoutMicroseconds);

enum class ResolveError { None, NoName, Service, Family, SocketType, Again, Fail, Memory, BadFlags, NoData, System };
struct ResolvedAddress {
  int flags, family, socketType, protocol;
  std::vector<unsigned char> address;
  std::string canonicalName;
};
struct ResolveResult {
  ResolveError error = ResolveError::None;
  int systemError = 0;  // errno for ResolveError::System
  std::vector<ResolvedAddress> addresses;
};
ResolveResult resolve(const char* node, const char* service, bool withHints, int flags, int family,
                      int socketType, int protocol);

// 1 converted, 0 not an address, -1 unsupported family.
int parseAddress(int family, const char* text, void* address);

// Test support: sockets open through the stand-in, and closing them all.
std::size_t openSocketCount();
void closeAllSockets();

}  // namespace kvo::winsockimpl
