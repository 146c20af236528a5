#pragma once
// Helpers shared by the UDP reader tests: a fresh start of every global the readers touch, the
// log read back from a private folder, and a loop-back UDP sender.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/log.h"
#include "core/parameters.h"
#include "core/run_flags.h"
#include "core/timeutil.h"
#include "links/feed.h"
#include "links/qnh_reader.h"
#include "links/reader_events.h"
#include "links/traffic_reader.h"
#include "links/udp_reader.h"
#include "shared_state/main_window.h"
#include "shared_state/run_end.h"
#include "support/test_support.h"

namespace readertest {

using coretest::waitFor;

// Every global of the readers, the feed, the window and the run flags back to its start, and
// the log opened in a private folder. Closes the log again at the end.
class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetAll();
    ASSERT_TRUE(openLogFile(folder_.path()));
  }
  void TearDown() override {
    closeLogFile();
    resetAll();
  }

  static void resetAll() {
    clearRunEndState();
    g_mainWindow.resetForTests();
    resetReadersForTests();
    resetTrafficFeedForTests();
    resetTimeState();
    g_rangeNm.store(40.0);
  }

  // The log's lines after its header line.
  std::vector<std::string> logLines() const {
    std::ifstream in(folder_.path() / "Log.txt", std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
      if (header) {
        header = false;
        continue;
      }
      lines.push_back(line);
    }
    return lines;
  }

  bool logHas(std::string_view text) const {
    const auto lines = logLines();
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  }

  // Waits (bounded) until the log holds the line.
  bool waitForLogLine(std::string_view text) const {
    return waitFor([&] { return logHas(text); });
  }

  const std::filesystem::path& folder() const { return folder_.path(); }

 private:
  coretest::TempFolder folder_;
};

// A published traffic line of 43 fields (an airliner about 7 nm from 50.0, 8.5), with fields
// replaced by index.
std::string trafficLine(const std::vector<std::pair<std::size_t, std::string>>& changes = {});

using coretest::fuzzInputs;

// Sends datagrams to 127.0.0.1:port through the Winsock stand-in.
class UdpSender {
 public:
  UdpSender();
  ~UdpSender();
  UdpSender(const UdpSender&) = delete;
  UdpSender& operator=(const UdpSender&) = delete;

  // True when the whole datagram went out; to 127.0.0.1 unless another IPv4 address is given.
  bool send(std::uint16_t port, std::string_view datagram, const char* address = "127.0.0.1") const;

 private:
  kvo::SocketHandle socket_;
};

// A UDP socket of the test's own bound to every interface on an ephemeral port.
class PortHolder {
 public:
  PortHolder();
  ~PortHolder();
  PortHolder(const PortHolder&) = delete;
  PortHolder& operator=(const PortHolder&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  kvo::SocketHandle socket_;
  std::uint16_t port_ = 0;
};

}  // namespace readertest
