// select over descriptors beyond the reach of the system's fd_set. The standard headers come
// before winsock.h here, the other order from winsock_test.cpp.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/winsock/testing.h"
#include "platform/winsock/winsock.h"

namespace {

TEST(WinsockSelect, WorksForDescriptorsAbove1024) {
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  constexpr rlim_t kWanted = 1200;
  if (limit.rlim_cur < kWanted) {
    if (limit.rlim_max < kWanted) {
      GTEST_SKIP() << "descriptor limit too low to reach 1024";
    }
    rlimit raised = limit;
    raised.rlim_cur = kWanted;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
  }
  // Fill every lower descriptor so the next sockets land above 1024.
  std::vector<int> fillers;
  for (int fd = dup(0); fd >= 0 && fd <= 1030; fd = dup(0)) {
    fillers.push_back(fd);
  }
  ASSERT_GT(fillers.size(), 0u);

  kvo::winsocktest::resetWinsock();
  WSADATA data{};
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  const SOCKET receiver = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  const SOCKET sender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  EXPECT_GT(receiver, 1024u);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  int length = sizeof address;
  ASSERT_EQ(getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string line = "{\"QNH\":1013}";
  ASSERT_EQ(sendto(sender, line.data(), static_cast<int>(line.size()), 0, reinterpret_cast<sockaddr*>(&address),
                   sizeof address),
            static_cast<int>(line.size()));

  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(sender, &readable);
  FD_SET(receiver, &readable);
  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(sender, &writable);
  timeval wait{5, 0};
  EXPECT_EQ(select(0, &readable, &writable, nullptr, &wait), 2);
  EXPECT_EQ(readable.fd_count, 1u);
  EXPECT_TRUE(FD_ISSET(receiver, &readable));
  EXPECT_TRUE(FD_ISSET(sender, &writable));

  closesocket(sender);
  closesocket(receiver);
  WSACleanup();
  for (const int fd : fillers) {
    close(fd);
  }
  setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace
