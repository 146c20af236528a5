// The socket side of the reader tests' helpers; the only test file that sees the Winsock names.
#include "links/test_udp_support.h"

#include "platform/winsock/winsock.h"

namespace readertest {

std::string trafficLine(const std::vector<std::pair<std::size_t, std::string>>& changes) {
  std::vector<std::string> fields(43, "0");
  fields[0] = "TFC";
  fields[1] = "4840203";
  fields[2] = "50.1";
  fields[3] = "8.6";
  fields[4] = "12000";
  fields[5] = "-1200";
  fields[6] = "1";
  fields[7] = "245.5";
  fields[8] = "280";
  fields[9] = "DLH123";
  fields[10] = "A320";
  fields[11] = "D-AIZZ";
  fields[12] = "FRA";
  fields[13] = "LHR";
  fields[14] = "1733550000.25";
  fields[17] = "adsb_icao";
  fields[20] = "290";
  fields[23] = "-1";
  fields[25] = "246.0";
  fields[28] = "A3";
  for (const auto& [index, text] : changes) fields.at(index) = text;
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += ',';
    line += fields[i];
  }
  return line;
}

UdpSender::UdpSender() {
  WSADATA data{};
  EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  EXPECT_NE(socket_, INVALID_SOCKET);
  // Large datagrams in quick succession: room in the send buffer.
  const int size = 1 << 20;
  setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size);
}

UdpSender::~UdpSender() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  WSACleanup();
}

bool UdpSender::send(std::uint16_t port, std::string_view datagram, const char* address) const {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  if (inet_pton(AF_INET, address, &to.sin_addr) != 1) return false;
  const int sent = sendto(socket_, datagram.data(), static_cast<int>(datagram.size()), 0,
                          reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return sent == static_cast<int>(datagram.size());
}

PortHolder::PortHolder() {
  WSADATA data{};
  EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  EXPECT_EQ(bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  int length = sizeof address;
  EXPECT_EQ(getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length), 0);
  port_ = ntohs(address.sin_port);
}

PortHolder::~PortHolder() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  WSACleanup();
}

}  // namespace readertest
