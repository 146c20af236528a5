// The receive loop and the reader threads on real loop-back UDP sockets, the lamps and the
// reader reset.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "core/wsa_error.h"
#include "links/test_udp_support.h"
#include "platform/winsock/testing.h"

namespace {

using namespace std::chrono_literals;
using readertest::waitFor;

// A reader that keeps what it was handed.
class RecordingReader final : public kvo::UdpReader {
 public:
  RecordingReader() : UdpReader("Test Reader") {}
  void processMessage() override { record("decoded " + std::string(message)); }
  void onStopped() override { record("stopped"); }
  void onConnected() override { record("connected"); }

  void record(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  std::vector<std::string> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::size_t count(const std::string& event) const {
    const auto all = events();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), event));
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

// One reader thread on an ephemeral port, stopped and joined at the end.
class ReaderThread {
 public:
  explicit ReaderThread(kvo::UdpReader& reader) : reader_(reader), thread_([&reader] { reader.runThread(0); }) {}
  ~ReaderThread() { stop(); }
  ReaderThread(const ReaderThread&) = delete;
  ReaderThread& operator=(const ReaderThread&) = delete;

  std::uint16_t waitForPort() const {
    EXPECT_TRUE(waitFor([&] { return reader_.boundPort() != 0; }));
    return reader_.boundPort();
  }
  // Sets the stop flag and joins; returns how long the thread took to end.
  std::chrono::milliseconds stop() {
    if (!thread_.joinable()) return {};
    const auto start = std::chrono::steady_clock::now();
    reader_.stopRequested = true;
    thread_.join();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  }
  void join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  kvo::UdpReader& reader_;
  std::thread thread_;
};

class UdpReaderTest : public readertest::ReaderTest {};

TEST_F(UdpReaderTest, DuplicatesFromAnotherPcAreCountedButNotDecoded) {
  g_realTrafficOnThisPc = false;
  RecordingReader reader;
  ReaderThread thread(reader);
  const auto port = thread.waitForPort();
  readertest::UdpSender sender;
  for (const char* datagram : {"A", "A", "B", "A"}) ASSERT_TRUE(sender.send(port, datagram));
  ASSERT_TRUE(waitFor([&] { return reader.datagramCount.load() == 4; }));
  thread.stop();
  EXPECT_EQ(reader.events(), (std::vector<std::string>{"connected", "decoded A", "decoded B", "decoded A", "stopped"}));
}

// RealTraffic on this PC talks over the loop-back address only: nothing else is heard, and every
// datagram is decoded, also a repeated one. RealTraffic elsewhere may come from any address.
TEST_F(UdpReaderTest, WithRealTrafficOnThisPcOnlyTheLoopBackIsHeardAndEveryDatagramDecoded) {
  for (const bool here : {true, false}) {
    SCOPED_TRACE(here);
    g_realTrafficOnThisPc = here;
    RecordingReader reader;
    ReaderThread thread(reader);
    const auto port = thread.waitForPort();
    readertest::UdpSender sender;
    ASSERT_TRUE(sender.send(port, "elsewhere", "127.0.0.2"));  // another address of this machine
    ASSERT_TRUE(sender.send(port, "A"));
    ASSERT_TRUE(sender.send(port, "A"));
    ASSERT_TRUE(waitFor([&] { return reader.count("decoded A") == (here ? 2u : 1u) && reader.datagramCount == (here ? 2u : 3u); }));
    EXPECT_EQ(reader.count("decoded elsewhere"), here ? 0u : 1u);
  }
}

TEST_F(UdpReaderTest, OverrunsAreLoggedAndDroppedAndTheReaderGoesOn) {
  RecordingReader reader;
  ReaderThread thread(reader);
  const auto port = thread.waitForPort();
  readertest::UdpSender sender;
  ASSERT_TRUE(sender.send(port, ""));                              // ignored, not counted
  ASSERT_TRUE(sender.send(port, std::string(16384, 'x')));         // exactly the buffer: overrun
  ASSERT_TRUE(sender.send(port, std::string(16383, 'y')));         // the largest datagram taken
  ASSERT_TRUE(sender.send(port, std::string(20000, 'z')));         // beyond the buffer
  ASSERT_TRUE(sender.send(port, "after"));
  ASSERT_TRUE(waitFor([&] { return reader.count("decoded after") == 1; }));
  EXPECT_EQ(reader.datagramCount.load(), 2u);
  EXPECT_EQ(reader.count("decoded " + std::string(16383, 'y')), 1u);
  EXPECT_TRUE(logHas("buffer overrun: 16384 bytes"));
  EXPECT_EQ(g_exitReason.load(), 0);
  EXPECT_FALSE(g_stopRequested.load());
  // The second overrun came within the first one's 10 s: it is counted, and the count is
  // written once the period is over, also while no further datagram comes.
  EXPECT_FALSE(logHas("buffer overrun: more than 16384 bytes"));
  kvo::setUtcNowForTests(std::chrono::system_clock::now() + 10s);
  EXPECT_TRUE(waitForLogLine("1 more \"buffer overrun\" line in 10 s"));
}

TEST_F(UdpReaderTest, ACountStillOpenIsWrittenWhenTheReaderEnds) {
  RecordingReader reader;
  ReaderThread thread(reader);
  const auto port = thread.waitForPort();
  readertest::UdpSender sender;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(sender.send(port, std::string(16384, 'x')));
  ASSERT_TRUE(sender.send(port, "after"));
  ASSERT_TRUE(waitFor([&] { return reader.count("decoded after") == 1; }));
  thread.stop();
  EXPECT_EQ(logLines(), (std::vector<std::string>{"          Test Reader connected", "buffer overrun: 16384 bytes",
                                                  "2 more \"buffer overrun\" lines in 10 s",
                                                  "          Test Reader disconnected"}));
}

TEST_F(UdpReaderTest, StopEndsTheLoopWithinAboutASecondAndCleansUp) {
  const std::size_t socketsBefore = kvo::winsocktest::openSocketCount();
  const int startupsBefore = kvo::winsocktest::startupCount();
  RecordingReader reader;
  ReaderThread thread(reader);
  thread.waitForPort();
  EXPECT_TRUE(reader.threadRunning());
  const auto took = thread.stop();
  EXPECT_LT(took, 1500ms);
  EXPECT_EQ(reader.count("stopped"), 1u);
  EXPECT_FALSE(reader.threadRunning());
  EXPECT_EQ(reader.boundPort(), 0);
  EXPECT_EQ(kvo::winsocktest::openSocketCount(), socketsBefore);
  EXPECT_EQ(kvo::winsocktest::startupCount(), startupsBefore);
  EXPECT_EQ(logLines(), (std::vector<std::string>{"          Test Reader connected", "          Test Reader disconnected"}));
}

TEST_F(UdpReaderTest, BindFailureEndsTheRunWithTheShownText) {
  readertest::PortHolder taken;
  const int startupsBefore = kvo::winsocktest::startupCount();
  kvo::TrafficReader reader;
  reader.runThread(taken.port());  // returns once the error is reported

  const std::string shown = fmt::format("The Traffic Reader has stopped with error: bind to stream socket failed, error: {}",
                                        wsaErrorText(10048));
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::messageText), shown);
  EXPECT_TRUE(g_stopRequested.load());
  EXPECT_EQ(g_exitReason.load(), 6);
  EXPECT_EQ(g_restartDelaySeconds.load(), 15);
  EXPECT_EQ(logLines(), (std::vector<std::string>{shown, "          Traffic Reader disconnected"}));
  EXPECT_EQ(g_mainWindow.g_trafficLamp.load(), kvo::kLampStopped);  // never bound: lamps untouched
  EXPECT_EQ(kvo::winsocktest::startupCount(), startupsBefore);
  EXPECT_FALSE(reader.threadRunning());
}

TEST_F(UdpReaderTest, TheFirstReasonWins) {
  endRunWithReason(kvo::kExitNewSettings, 2);  // another party ended the run first
  reportThreadStopped("QNH Reader", "receive error: x");
  EXPECT_EQ(g_exitReason.load(), 3);
  EXPECT_EQ(g_restartDelaySeconds.load(), 2);
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::messageText), "The QNH Reader has stopped with error: receive error: x");
  EXPECT_TRUE(logLines().empty());  // nothing is logged once a stop is under way
}

TEST_F(UdpReaderTest, LampsAndStopLinesOfBothReaders) {
  {
    kvo::QnhReader qnh;
    ReaderThread thread(qnh);
    const auto port = thread.waitForPort();
    EXPECT_EQ(g_mainWindow.g_qnhLamp.load(), kvo::kLampReceiving);
    EXPECT_EQ(g_mainWindow.g_trafficLamp.load(), kvo::kLampStopped);
    readertest::UdpSender sender;
    ASSERT_TRUE(sender.send(port, R"({"QNH":1000})"));
    EXPECT_TRUE(waitFor([] { return g_qnh.load() == 1000; }));
    thread.stop();
    EXPECT_EQ(g_mainWindow.g_qnhLamp.load(), kvo::kLampReceiving);  // the QNH lamp stays
    EXPECT_TRUE(logHas("QNH Reader has stopped"));
  }
  g_mainWindow.g_qnhLamp = kvo::kLampStopped;
  {
    kvo::TrafficReader traffic;
    ReaderThread thread(traffic);
    thread.waitForPort();
    EXPECT_EQ(g_mainWindow.g_trafficLamp.load(), kvo::kLampReceiving);
    EXPECT_EQ(g_mainWindow.g_qnhLamp.load(), kvo::kLampReceiving);
    thread.stop();
    EXPECT_EQ(g_mainWindow.g_trafficLamp.load(), kvo::kLampStopped);
    EXPECT_TRUE(logHas("Traffic Reader has stopped"));
    EXPECT_TRUE(logHas("          Traffic Reader connected"));
  }
}

TEST_F(UdpReaderTest, LampUpdatesFollowTheDatagramCounts) {
  auto lamps = [] { return std::pair(g_mainWindow.g_qnhLamp.load(), g_mainWindow.g_trafficLamp.load()); };
  g_mainWindow.g_qnhLamp = 1;
  g_mainWindow.g_trafficLamp = 1;
  g_qnhReader.datagramCount = 5;

  // Without the RealTraffic link nothing changes.
  g_mainWindow.g_rtLinkUp = false;
  updateReaderLamps();
  EXPECT_EQ(lamps(), std::pair(1, 1));
  EXPECT_EQ(g_qnhReader.lastSeenCount.load(), 0u);

  g_mainWindow.g_rtLinkUp = true;
  updateReaderLamps();  // QNH changed with the shown flag set: nothing; traffic unchanged: idle
  EXPECT_EQ(lamps(), std::pair(1, 2));
  EXPECT_FALSE(g_trafficLampShown.load());
  EXPECT_TRUE(g_qnhLampShown.load());

  updateReaderLamps();  // no change for either: both idle, both flags cleared
  EXPECT_EQ(lamps(), std::pair(2, 2));
  EXPECT_FALSE(g_qnhLampShown.load());

  g_trafficReader.datagramCount = 1;
  updateReaderLamps();  // traffic changed with the flag clear: receiving
  EXPECT_EQ(lamps(), std::pair(2, 1));
  EXPECT_TRUE(g_trafficLampShown.load());

  g_mainWindow.g_trafficLamp = 3;
  g_trafficReader.datagramCount = 2;
  updateReaderLamps();  // changed again with the flag set: the lamp is left alone
  EXPECT_EQ(lamps(), std::pair(2, 3));
}

TEST_F(UdpReaderTest, ReaderResetPutsTheRunScopedStateBack) {
  g_feedEpochTime = 1733550000.0;
  g_trafficReader.setReferencePosition(50.0, 8.5);
  g_trafficReader.startCollectingCallsigns();
  g_trafficReader.handleDatagram(readertest::trafficLine());
  ASSERT_EQ(g_trafficReader.callsignCount(), 1u);
  g_trafficReader.stopRequested = true;
  g_qnhReader.stopRequested = true;
  g_trafficLampShown = false;
  g_qnhLampShown = false;
  g_qnhReader.lastQnh = 1000;
  g_qnhReader.datagramCount = 7;
  g_qnhReader.lastSeenCount = 6;
  g_trafficReader.datagramCount = 9;

  resetReaderState();
  EXPECT_EQ(g_feedEpochTime.load(), 0.0);
  EXPECT_EQ(g_trafficReader.callsignCount(), 0u);
  EXPECT_FALSE(g_trafficReader.stopRequested.load());
  EXPECT_FALSE(g_qnhReader.stopRequested.load());
  EXPECT_TRUE(g_trafficLampShown.load());
  EXPECT_TRUE(g_qnhLampShown.load());
  EXPECT_EQ(g_qnhReader.lastQnh.load(), 1013);
  EXPECT_EQ(g_qnhReader.datagramCount.load(), 0u);
  EXPECT_EQ(g_qnhReader.lastSeenCount.load(), 0u);
  EXPECT_EQ(g_trafficReader.datagramCount.load(), 9u);  // only the QNH reader's counts
}

// The closing run sets the stop flag and moves on; the next run's reset must not clear the
// flag under a reader that has not yet seen it.
TEST_F(UdpReaderTest, ReaderResetWaitsForAStoppingReader) {
  ReaderThread thread(g_trafficReader);
  thread.waitForPort();
  g_trafficReader.stopRequested = true;
  resetReaderState();
  EXPECT_FALSE(g_trafficReader.threadRunning());
  EXPECT_FALSE(g_trafficReader.stopRequested.load());
  thread.join();
}

// A reader left over from the previous run (its stop flag cleared by the reset) must not touch
// the object once the new run's reader has started on it.
TEST_F(UdpReaderTest, ANewThreadTakesOverFromALeftoverOne) {
  RecordingReader reader;
  ReaderThread leftover(reader);
  leftover.waitForPort();
  ReaderThread current(reader);
  ASSERT_TRUE(waitFor([&] { return reader.count("connected") == 2; }));
  leftover.join();  // it left on its own
  EXPECT_EQ(reader.events(), (std::vector<std::string>{"connected", "stopped", "connected"}));
  const auto port = current.waitForPort();
  readertest::UdpSender sender;
  ASSERT_TRUE(sender.send(port, "new run"));
  EXPECT_TRUE(waitFor([&] { return reader.count("decoded new run") == 1; }));
  current.stop();
  EXPECT_EQ(reader.count("stopped"), 2u);
}

}  // namespace
