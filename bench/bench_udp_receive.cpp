// Datagrams per second that one reader takes from a loop-back sender without loss at the
// socket. The sender keeps at most a window of datagrams in flight, so the socket's buffer
// never overflows and the rate is the reader's own; "lost" reports any datagram that still
// went missing.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/parameters.h"
#include "links/feed.h"
#include "links/traffic_reader.h"
#include "links/udp_reader.h"
#include "platform/winsock/winsock.h"

namespace {

// Takes the datagrams and decodes nothing: the receive path alone.
class CountingReader final : public kvo::UdpReader {
 public:
  CountingReader() : UdpReader("Counting Reader") {}
  void processMessage() override {}
  void onStopped() override {}
  void onConnected() override {}
};

std::string trafficLine(int k) {
  std::vector<std::string> f(43, "0");
  f[0] = "TFC";
  f[1] = std::to_string(4840203 + k % 500);
  f[2] = "50.1" + std::to_string(k % 97);
  f[3] = "8.6";
  f[4] = "12000";
  f[5] = "-1200";
  f[7] = "245.5";
  f[8] = "280";
  f[9] = "DLH" + std::to_string(k % 500);
  f[10] = "A320";
  f[11] = "D-AIZZ";
  f[12] = "FRA";
  f[13] = "LHR";
  f[14] = std::to_string(1733550000 + k);
  f[17] = "adsb_icao";
  f[20] = "290";
  f[23] = "-1";
  f[25] = "246.0";
  f[28] = "A3";
  std::string out;
  for (std::size_t i = 0; i < f.size(); ++i) out += (i ? "," : "") + f[i];
  return out;
}

void receive(benchmark::State& state, kvo::UdpReader& reader) {
  constexpr std::uint32_t kWindow = 64;
  std::vector<std::string> datagrams;
  for (int k = 0; k < 1000; ++k) datagrams.push_back(trafficLine(k));

  g_realTrafficOnThisPc = true;  // bound to the loop-back
  g_rangeNm = 40.0;
  setTrafficFeedOpen(true);
  reader.datagramCount = 0;
  std::thread thread([&reader] { reader.runThread(0); });
  while (reader.boundPort() == 0) std::this_thread::yield();

  WSADATA data{};
  WSAStartup(MAKEWORD(2, 2), &data);
  const SOCKET sender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(reader.boundPort());
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

  std::uint32_t sent = 0;
  for (auto _ : state) {
    while (sent - reader.datagramCount.load() >= kWindow) std::this_thread::yield();
    const std::string& d = datagrams[sent % datagrams.size()];
    sendto(sender, d.data(), static_cast<int>(d.size()), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ++sent;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (reader.datagramCount.load() != sent && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  state.SetItemsProcessed(sent);
  state.counters["lost"] = static_cast<double>(sent - reader.datagramCount.load());

  reader.stopRequested = true;
  thread.join();
  reader.stopRequested = false;
  closesocket(sender);
  WSACleanup();
  clearTrafficFeed();
  setTrafficFeedOpen(false);
}

void BM_ReceiveOnly(benchmark::State& state) {
  CountingReader reader;
  receive(state, reader);
}

void BM_ReceiveAndDecodeTrafficLines(benchmark::State& state) {
  kvo::TrafficReader reader;
  reader.setReferencePosition(50.0, 8.5);
  receive(state, reader);
}

}  // namespace

BENCHMARK(BM_ReceiveOnly)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ReceiveAndDecodeTrafficLines)->UseRealTime()->MinTime(2.0);
BENCHMARK_MAIN();
