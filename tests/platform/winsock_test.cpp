// The Winsock stand-in on loopback. winsock.h comes first here on purpose: program files may
// include it before or after the standard headers (winsock_select_test.cpp does the latter).
#include "platform/winsock/winsock.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "platform/winsock/testing.h"

namespace {

using namespace std::chrono_literals;

sockaddr_in loopback(u_short port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

const sockaddr* asAddress(const sockaddr_in& address) { return reinterpret_cast<const sockaddr*>(&address); }

u_short portOf(SOCKET s) {
  sockaddr_in address{};
  int length = sizeof address;
  EXPECT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&address), &length), 0);
  return ntohs(address.sin_port);
}

// A socket bound to a free loopback port.
SOCKET boundSocket(int type, int protocol) {
  const SOCKET s = socket(AF_INET, type, protocol);
  EXPECT_NE(s, INVALID_SOCKET);
  const auto address = loopback(0);
  EXPECT_EQ(bind(s, asAddress(address), sizeof address), 0);
  return s;
}

// Waits (bounded) until the thread is asleep in the kernel, so a test can act on a call that
// is really blocked rather than about to block.
bool waitUntilBlocked(pid_t thread) {
  const std::string statPath = "/proc/self/task/" + std::to_string(thread) + "/stat";
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream stat(statPath);
    std::string line;
    std::getline(stat, line);
    const auto nameEnd = line.rfind(')');  // the state follows the command name
    if (nameEnd != std::string::npos && nameEnd + 2 < line.size() && line[nameEnd + 2] == 'S') {
      return true;
    }
    std::this_thread::yield();
  }
  return false;
}

TEST(WinsockStartup, IsReferenceCounted) {
  kvo::winsocktest::resetWinsock();
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  EXPECT_EQ(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

  WSADATA data{};
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  EXPECT_EQ(WSACleanup(), 0);
  const SOCKET stillUsable = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  EXPECT_NE(stillUsable, INVALID_SOCKET);
  EXPECT_EQ(closesocket(stillUsable), 0);
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

  EXPECT_EQ(WSAStartup(MAKEWORD(0, 0), &data), WSAVERNOTSUPPORTED);
  EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), nullptr), WSAEFAULT);
  EXPECT_EQ(kvo::winsocktest::startupCount(), 0);
}

class WinsockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kvo::winsocktest::resetWinsock();
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  }
  void TearDown() override {
    EXPECT_EQ(kvo::winsocktest::openSocketCount(), 0u) << "a test left sockets open";
    kvo::winsocktest::resetWinsock();
  }
};

TEST_F(WinsockTest, UdpDatagramWithSelectTimeOut) {
  const SOCKET receiver = boundSocket(SOCK_DGRAM, IPPROTO_UDP);
  const SOCKET sender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);

  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(receiver, &readable);
  timeval wait{0, 100000};
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(select(0, &readable, nullptr, nullptr, &wait), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - before, 90ms);
  EXPECT_EQ(readable.fd_count, 0u);

  const std::string line = "AC,1,2,3";
  const auto target = loopback(portOf(receiver));
  EXPECT_EQ(sendto(sender, line.data(), static_cast<int>(line.size()), 0, asAddress(target), sizeof target),
            static_cast<int>(line.size()));

  FD_ZERO(&readable);
  FD_SET(receiver, &readable);
  wait = timeval{5, 0};
  EXPECT_EQ(select(0, &readable, nullptr, nullptr, &wait), 1);
  EXPECT_TRUE(FD_ISSET(receiver, &readable));

  char buffer[64];
  sockaddr_in from{};
  int fromLength = sizeof from;
  EXPECT_EQ(recvfrom(receiver, buffer, sizeof buffer, MSG_PEEK, reinterpret_cast<sockaddr*>(&from), &fromLength),
            static_cast<int>(line.size()));
  EXPECT_EQ(recvfrom(receiver, buffer, sizeof buffer, 0, nullptr, nullptr), static_cast<int>(line.size()));
  EXPECT_EQ(std::string(buffer, line.size()), line);
  EXPECT_EQ(from.sin_port, htons(portOf(sender)));
  EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));

  EXPECT_EQ(closesocket(sender), 0);
  EXPECT_EQ(closesocket(receiver), 0);
}

TEST_F(WinsockTest, OversizedDatagramFillsTheBufferAndFails) {
  const SOCKET receiver = boundSocket(SOCK_DGRAM, IPPROTO_UDP);
  const SOCKET sender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  const std::string datagram(100, 'x');
  const auto target = loopback(portOf(receiver));
  sendto(sender, datagram.data(), 100, 0, asAddress(target), sizeof target);
  char buffer[16] = {};
  EXPECT_EQ(recv(receiver, buffer, 10, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
  EXPECT_EQ(std::string(buffer, 10), std::string(10, 'x'));
  closesocket(sender);
  closesocket(receiver);
}

TEST_F(WinsockTest, TcpAcceptSendReceiveAndClose) {
  const SOCKET listener = boundSocket(SOCK_STREAM, IPPROTO_TCP);
  const int reuse = 1;
  EXPECT_EQ(setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), 4), 0);
  ASSERT_EQ(listen(listener, SOMAXCONN), 0);

  const SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const auto target = loopback(portOf(listener));
  ASSERT_EQ(connect(client, asAddress(target), sizeof target), 0);
  sockaddr_in peer{};
  int peerLength = sizeof peer;
  const SOCKET server = accept(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength);
  ASSERT_NE(server, INVALID_SOCKET);
  EXPECT_EQ(peer.sin_port, htons(portOf(client)));

  // The program sets TCP_NODELAY with a single byte.
  const char on = 1;
  EXPECT_EQ(setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, 1), 0);
  int value = 0;
  int length = sizeof value;
  EXPECT_EQ(getsockopt(server, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&value), &length), 0);
  EXPECT_NE(value, 0);

  const std::string request = "Qs999=version\r\n";
  EXPECT_EQ(send(server, request.data(), static_cast<int>(request.size()), 0), static_cast<int>(request.size()));
  char buffer[64];
  EXPECT_EQ(recv(client, buffer, sizeof buffer, 0), static_cast<int>(request.size()));
  EXPECT_EQ(std::string(buffer, request.size()), request);

  // The peer goes: recv sees the graceful close, and sending fails without a signal.
  EXPECT_EQ(closesocket(client), 0);
  EXPECT_EQ(recv(server, buffer, sizeof buffer, 0), 0);
  int result = 0;
  for (int attempt = 0; attempt < 50 && result != SOCKET_ERROR; ++attempt) {
    result = send(server, request.data(), static_cast<int>(request.size()), 0);
  }
  EXPECT_EQ(result, SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);

  EXPECT_EQ(closesocket(server), 0);
  EXPECT_EQ(closesocket(listener), 0);
}

TEST_F(WinsockTest, ShutdownSendEndsThePeersStream) {
  const SOCKET listener = boundSocket(SOCK_STREAM, IPPROTO_TCP);
  listen(listener, 1);
  const SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const auto target = loopback(portOf(listener));
  ASSERT_EQ(connect(client, asAddress(target), sizeof target), 0);
  const SOCKET server = accept(listener, nullptr, nullptr);
  ASSERT_NE(server, INVALID_SOCKET);

  EXPECT_EQ(shutdown(client, SD_SEND), 0);
  char buffer[8];
  EXPECT_EQ(recv(server, buffer, sizeof buffer, 0), 0);
  EXPECT_EQ(send(client, "x", 1, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAESHUTDOWN);
  EXPECT_EQ(shutdown(client, 7), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  closesocket(server);
  closesocket(client);
  closesocket(listener);
}

TEST_F(WinsockTest, ErrorCodesAreTheWinsockOnes) {
  // A port in use.
  const SOCKET first = boundSocket(SOCK_STREAM, IPPROTO_TCP);
  ASSERT_EQ(listen(first, 1), 0);
  const SOCKET second = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const auto taken = loopback(portOf(first));
  EXPECT_EQ(bind(second, asAddress(taken), sizeof taken), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
  const SOCKET udpFirst = boundSocket(SOCK_DGRAM, IPPROTO_UDP);
  const SOCKET udpSecond = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  const auto udpTaken = loopback(portOf(udpFirst));
  EXPECT_EQ(bind(udpSecond, asAddress(udpTaken), sizeof udpTaken), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);

  // Nobody listening.
  const SOCKET probe = boundSocket(SOCK_STREAM, IPPROTO_TCP);
  const auto unused = loopback(portOf(probe));
  closesocket(probe);
  const SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  EXPECT_EQ(connect(client, asAddress(unused), sizeof unused), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);

  // A closed socket is no socket any more, whatever its descriptor became.
  char buffer[4];
  EXPECT_EQ(closesocket(second), 0);
  EXPECT_EQ(recv(second, buffer, sizeof buffer, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(closesocket(second), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(send(INVALID_SOCKET, buffer, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);

  // Unsupported requests.
  u_long mode = 1;
  EXPECT_EQ(ioctlsocket(client, 0x1234, &mode), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  int small = 0;
  int smallLength = 2;
  EXPECT_EQ(getsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&small), &smallLength),
            SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);

  closesocket(client);
  closesocket(udpSecond);
  closesocket(udpFirst);
  closesocket(first);
}

TEST_F(WinsockTest, ReceiveTimeOutIsMillisecondsAndReportsTimedOut) {
  const SOCKET s = boundSocket(SOCK_DGRAM, IPPROTO_UDP);
  const DWORD timeout = 150;
  EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout), 0);
  DWORD read = 0;
  int length = sizeof read;
  EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&read), &length), 0);
  EXPECT_EQ(read, 150u);

  char buffer[8];
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(recv(s, buffer, sizeof buffer, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - before, 140ms);

  u_long nonBlocking = 1;
  EXPECT_EQ(ioctlsocket(s, FIONBIO, &nonBlocking), 0);
  EXPECT_EQ(recv(s, buffer, sizeof buffer, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  closesocket(s);
}

TEST_F(WinsockTest, ClosingASocketEndsCallsBlockedOnIt) {
  struct Case {
    const char* name;
    int type;
    int protocol;
  };
  for (const Case c : {Case{"accept", SOCK_STREAM, IPPROTO_TCP}, Case{"recvfrom", SOCK_DGRAM, IPPROTO_UDP}}) {
    const SOCKET s = boundSocket(c.type, c.protocol);
    if (c.type == SOCK_STREAM) {
      ASSERT_EQ(listen(s, 1), 0);
    }
    std::promise<pid_t> threadId;
    auto blocked = std::async(std::launch::async, [&] {
      threadId.set_value(gettid());
      if (c.type == SOCK_STREAM) {
        return accept(s, nullptr, nullptr) == INVALID_SOCKET ? WSAGetLastError() : 0;
      }
      char buffer[16];
      return recvfrom(s, buffer, sizeof buffer, 0, nullptr, nullptr) == SOCKET_ERROR ? WSAGetLastError() : 0;
    });
    ASSERT_TRUE(waitUntilBlocked(threadId.get_future().get())) << c.name;
    EXPECT_EQ(closesocket(s), 0);
    ASSERT_EQ(blocked.wait_for(5s), std::future_status::ready) << c.name << " still blocked";
    EXPECT_EQ(blocked.get(), WSAEINTR) << c.name;
  }
}

TEST_F(WinsockTest, FdSetOperations) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(7, &set);
  FD_SET(7, &set);
  FD_SET(9, &set);
  FD_SET(11, &set);
  EXPECT_EQ(set.fd_count, 3u);
  FD_CLR(9, &set);
  EXPECT_EQ(set.fd_count, 2u);
  EXPECT_EQ(set.fd_array[1], 11u);
  EXPECT_FALSE(FD_ISSET(9, &set));
  EXPECT_TRUE(FD_ISSET(11, &set));
  FD_CLR(42, &set);
  EXPECT_EQ(set.fd_count, 2u);
  for (SOCKET s = 100; s < 200; ++s) {
    FD_SET(s, &set);
  }
  EXPECT_EQ(set.fd_count, FD_SETSIZE);  // a full set takes no more

  fd_set empty;
  FD_ZERO(&empty);
  timeval none{0, 0};
  EXPECT_EQ(select(0, &empty, nullptr, &empty, &none), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  fd_set unknown;
  FD_ZERO(&unknown);
  FD_SET(123456, &unknown);
  EXPECT_EQ(select(0, &unknown, nullptr, nullptr, &none), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(WinsockTest, AddressResolutionForAServer) {
  addrinfo hints{};
  hints.ai_flags = AI_PASSIVE;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* result = nullptr;
  ASSERT_EQ(getaddrinfo(nullptr, "10747", &hints, &result), 0);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->ai_family, AF_INET);
  EXPECT_EQ(result->ai_socktype, SOCK_STREAM);
  ASSERT_EQ(result->ai_addrlen, sizeof(sockaddr_in));
  const auto* address = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
  EXPECT_EQ(address->sin_port, htons(10747));
  EXPECT_EQ(address->sin_addr.s_addr, htonl(INADDR_ANY));
  freeaddrinfo(result);

  hints.ai_flags = AI_NUMERICHOST;
  EXPECT_EQ(getaddrinfo("not-an-address", "80", &hints, &result), WSAHOST_NOT_FOUND);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(getaddrinfo("127.0.0.1", "no-such-service-name", &hints, &result), WSATYPE_NOT_FOUND);

  in_addr parsed{};
  EXPECT_EQ(inet_pton(AF_INET, "127.0.0.1", &parsed), 1);
  EXPECT_EQ(parsed.s_addr, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(inet_pton(AF_INET, "127.0.0.256", &parsed), 0);
  EXPECT_EQ(inet_pton(99, "127.0.0.1", &parsed), -1);
  EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
}

}  // namespace
