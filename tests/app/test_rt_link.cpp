// The RealTraffic TCP link against a loopback client that plays RealTraffic's side: the
// handshake, the position and time lines, a dropped link and the reconnection, and the ways a
// wait ends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fmt/format.h>

#include <thread>

#include <nlohmann/json.hpp>

#include "app_fixture.h"
#include "links/qnh_reader.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "platform/winsock/testing.h"
#include "rt_reply_input.h"

using namespace apptest;
using namespace std::chrono_literals;

namespace {

// RealTraffic's side of the link.
class FakeRealTraffic {
 public:
  explicit FakeRealTraffic(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~FakeRealTraffic() { close(); }
  bool connected() const { return connected_; }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  void send(const std::string& text) { ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
  // The next CR LF line, waiting at most the bound; empty on a time-out or a closed link.
  std::string readLine(std::chrono::milliseconds bound = 3000ms) {
    const auto end = std::chrono::steady_clock::now() + bound;
    for (;;) {
      if (const auto at = buffer_.find("\r\n"); at != std::string::npos) {
        std::string line = buffer_.substr(0, at);
        buffer_.erase(0, at + 2);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left <= 0ms) return {};
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
      char chunk[65536];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return {};
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  // Everything until the program closes the link.
  std::size_t drainCount() {
    std::size_t total = buffer_.size();
    char chunk[65536];
    for (;;) {
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return total;
      total += static_cast<std::size_t>(n);
    }
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  std::string buffer_;
};

class RtLinkTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    startupsBefore_ = kvo::winsocktest::startupCount();
    g_realTrafficOnThisPc = true;
    startRealTrafficServer("0");
    port_ = realTrafficServerPort();
    ASSERT_NE(port_, 0);
  }
  void TearDown() override {
    resetRealTrafficLinkForTests();
    EXPECT_EQ(kvo::winsocktest::startupCount(), startupsBefore_);
    {
      std::lock_guard lock(g_simQueueMutex);
      g_userAircraftSnapshot = {};
    }
    AppTest::TearDown();
  }
  // Connects RealTraffic and answers the version request with the reply.
  std::unique_ptr<FakeRealTraffic> handshake(const std::string& reply,
                                             std::chrono::milliseconds replyTimeout = kvo::kRtReplyTimeout) {
    auto rt = std::make_unique<FakeRealTraffic>(port_);
    std::thread answer([&] {
      if (rt->readLine() == "Qs999=version") rt->send(reply);
    });
    connectRealTraffic(replyTimeout);
    answer.join();
    return rt;
  }
  static void userAt(double lat, double lon) {
    std::lock_guard lock(g_simQueueMutex);
    g_userAircraftSnapshot = {};
    g_userAircraftSnapshot.lat = lat;
    g_userAircraftSnapshot.lon = lon;
    g_userAircraftSnapshot.pitch = 0.05;
    g_userAircraftSnapshot.bank = -0.1;
    g_userAircraftSnapshot.heading = 1.5;
    g_userAircraftSnapshot.altFt = 35000.0;
    g_userAircraftSnapshot.groundSpeedKt = 451.25;
  }
  std::string edition() const { return g_mainWindow.displayText(&kvo::MainWindow::realTrafficEdition); }

  std::uint16_t port_ = 0;
  int startupsBefore_ = 0;
};

TEST(PositionLine, FieldsAsRealTrafficReadsThem) {
  EXPECT_EQ(kvo::userPositionLine(0.05, -0.1, 1.5, 35000.0, 451.25, 50.0, 8.5),
            "Qs121=5000;-10000;1.500000;35000000;451250;0.872665;0.148353\r\n");
  // No exponent however large, no "-0".
  EXPECT_EQ(kvo::userPositionLine(-0.000001, 0.0, 0.0, 45000.0, 0.0, 0.0, 0.0),
            "Qs121=0;0;0.000000;45000000;0;0.000000;0.000000\r\n");
}

TEST_F(RtLinkTest, HandshakeWithAProfessionalEdition) {
  g_feedEpochTime = 1733550000.0;  // of the link before: a new link starts the readers afresh
  g_qnhReader.lastQnh = 1000;
  auto rt = handshake(R"({"version":"10.0.200","level":2})");
  EXPECT_EQ(g_feedEpochTime.load(), 0.0);
  EXPECT_EQ(g_qnhReader.lastQnh.load(), kvo::kStandardQnh);
  EXPECT_TRUE(g_rtConnected.load());
  EXPECT_TRUE(g_rtProfEdition.load());
  EXPECT_EQ(edition(), "RT prof edition: 10.0.200");
  EXPECT_TRUE(g_mainWindow.g_rtLinkUp.load());
  EXPECT_FALSE(g_scanChangeRestarts.load());
  EXPECT_TRUE(contains(log(), "Waiting for RealTraffic to connect to |Ambrelvane ..."));
  EXPECT_TRUE(contains(log(), "RealTraffic connected"));
  EXPECT_EQ(message(), "");

  sendSimTimeToRT(0);  // no time yet: nothing
  sendSimTimeToRT(1700000000);
  EXPECT_EQ(rt->readLine(), "Qs123=1700000000000");
}

TEST_F(RtLinkTest, RepliesOfEveryShape) {
  struct Case {
    std::string reply;
    bool prof;
    std::string edition;
    bool noneReceived;
  };
  const std::vector<Case> cases{
      {R"({"version":"9.1"})", false, "RT stnd edition: 9.1", false},   // no level: standard
      {R"({"level":2})", true, "RT prof edition: ", false},
      {"[1,2]", false, "", false},                                        // not an object
      {"this is not JSON", false, "", true},                              // unreadable: none
      // A version that is not clean text would reach the window: the reply counts as none.
      {R"({"version":"9.1\n===> forged","level":2})", false, "", true},
      {R"({"version":"9\u0000","level":2})", false, "", true},
  };
  for (const auto& c : cases) {
    g_mainWindow.clearMessage();
    auto rt = handshake(c.reply, 2s);  // a reply that never reads whole is taken as it is then
    EXPECT_EQ(g_rtProfEdition.load(), c.prof) << c.reply;
    EXPECT_EQ(edition(), c.edition) << c.reply;
    EXPECT_EQ(contains(log(), "No RealTraffic version received?"), c.noneReceived) << c.reply;
    EXPECT_TRUE(g_mainWindow.g_rtLinkUp.load());
    resetRealTrafficLinkForTests();
    startRealTrafficServer("0");
    port_ = realTrafficServerPort();
  }
}

TEST_F(RtLinkTest, AReplyInPiecesIsReadWhole) {
  auto rt = std::make_unique<FakeRealTraffic>(port_);
  std::thread answer([&] {
    rt->readLine();
    rt->send(R"({"version":"10.)");
    std::this_thread::sleep_for(50ms);
    rt->send(R"(0.1","level":2})");
  });
  connectRealTraffic();
  answer.join();
  EXPECT_TRUE(g_rtProfEdition.load());
  EXPECT_EQ(edition(), "RT prof edition: 10.0.1");
}

// Whatever connects first and says nothing to the version request must not hold the link: it is
// closed after the reply time, and RealTraffic, waiting behind it, gets the link and keeps it.
TEST_F(RtLinkTest, AClientThatDoesNotAnswerIsClosedAndTheNextIsServed) {
  FakeRealTraffic silent(port_);
  FakeRealTraffic rt(port_);
  ASSERT_TRUE(silent.connected());
  ASSERT_TRUE(rt.connected());
  std::thread answer([&] {
    if (rt.readLine(10s) == "Qs999=version") rt.send(R"({"version":"10.0.1","level":2})");
  });
  const auto start = std::chrono::steady_clock::now();
  connectRealTraffic(1s);
  answer.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(silent.readLine(), "Qs999=version");
  EXPECT_EQ(silent.readLine(200ms), "") << "closed";
  EXPECT_TRUE(contains(log(), "no version reply within 1 s, client socket closed"));
  EXPECT_TRUE(g_rtConnected.load());
  EXPECT_TRUE(g_mainWindow.g_rtLinkUp.load());
  EXPECT_EQ(edition(), "RT prof edition: 10.0.1");
  EXPECT_EQ(message(), "");
  userAt(50.0, 8.5);
  sendUserPositionToRT();
  EXPECT_TRUE(rt.readLine().starts_with("Qs121="));
}

TEST_F(RtLinkTest, ASilentRealTrafficCountsAsNoReply) {
  FakeRealTraffic rt(port_);
  ASSERT_TRUE(waitForClient(kvo::ClientWait::UntilStopped));
  ASSERT_TRUE(sendDataPacket("Qs999=version\r\n"));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(receive(200ms), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  parseRealTrafficVersion("");
  EXPECT_EQ(message(), "No RealTraffic version received?");
  EXPECT_FALSE(g_rtProfEdition.load());
}

TEST_F(RtLinkTest, AStopEndsTheWaitsForRealTraffic) {
  std::thread closer([] {
    std::this_thread::sleep_for(100ms);
    requestQuitByUser();
  });
  connectRealTraffic();  // nobody connects
  closer.join();
  EXPECT_FALSE(g_rtConnected.load());
  EXPECT_FALSE(g_mainWindow.g_rtLinkUp.load());
  EXPECT_EQ(message(), "");

  // A reply wait ends the same way.
  clearRunEndState();
  FakeRealTraffic rt(port_);
  ASSERT_TRUE(waitForClient(kvo::ClientWait::UntilStopped));
  std::thread closer2([] {
    std::this_thread::sleep_for(100ms);
    requestQuitByUser();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(receive(60000ms), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  closer2.join();
}

// The run's link step: a server and RealTraffic's handshake only with RealTraffic on this PC and
// AEROWINX off; otherwise nothing to wait for, and the link counts as up.
TEST_F(RtLinkTest, TheRunOpensTheLinkOnlyForRealTrafficOnThisPcWithoutAerowinx) {
  struct Case {
    bool here, aerowinx, server;
  };
  for (const Case c : {Case{true, false, true}, Case{true, true, false}, Case{false, false, false}}) {
    SCOPED_TRACE(fmt::format("here {} aerowinx {}", c.here, c.aerowinx));
    resetRealTrafficLinkForTests();  // the port is free again for the run's server
    g_mainWindow.g_rtLinkUp = false;
    g_mainWindow.beforeLinkStep = true;
    g_rtProfEdition = c.aerowinx;  // AEROWINX clears it
    g_realTrafficOnThisPc = c.here;
    AEROWINX.set(c.aerowinx);
    PORT_NUMBER.set(std::to_string(port_));
    g_simTime = 1700000000;
    std::thread run(openRealTrafficLink);
    if (c.server) {
      std::unique_ptr<FakeRealTraffic> rt;
      ASSERT_TRUE(coretest::waitFor([&] {
        rt = std::make_unique<FakeRealTraffic>(port_);
        return rt->connected();
      }));
      EXPECT_EQ(rt->readLine(), "Qs999=version");
      rt->send(R"({"version":"9","level":2})");
      EXPECT_EQ(rt->readLine(), "Qs123=1700000000000");  // a professional edition gets the time
    }
    run.join();
    EXPECT_TRUE(g_mainWindow.g_rtLinkUp.load());
    EXPECT_FALSE(g_mainWindow.beforeLinkStep.load());
    EXPECT_EQ(g_rtProfEdition.load(), c.server);
    EXPECT_EQ(realTrafficServerPort() != 0, c.server);
  }
}

TEST_F(RtLinkTest, PositionLinesOnlyForAKnownPosition) {
  auto rt = handshake(R"({"version":"9","level":1})");
  userAt(0.00005, 0.00003);
  sendUserPositionToRT();
  EXPECT_EQ(rt->readLine(200ms), "");
  userAt(50.0, 8.5);
  sendUserPositionToRT();
  EXPECT_EQ(rt->readLine(), "Qs121=5000;-10000;1.500000;35000000;451250;0.872665;0.148353");
}

TEST_F(RtLinkTest, EveryByteOfALongTextIsSent) {
  auto rt = handshake(R"({"version":"9"})");
  const std::string big(4 << 20, 'x');
  std::size_t received = 0;
  std::thread reader([&] { received = rt->drainCount(); });
  EXPECT_TRUE(sendDataPacket(big));
  closeRealTrafficLink();  // "exit" and close: the reader sees the end
  reader.join();
  EXPECT_EQ(received, big.size() + std::string("exit\r\n").size());
}

TEST_F(RtLinkTest, ALostLinkDropsTheLiveTrafficAndAReconnectionIsPolled) {
  auto rt = handshake(R"({"version":"9"})");
  userAt(50.0, 8.5);
  // What the readers hold of the lost link goes with it.
  g_feedEpochTime = 1733550000.0;
  g_qnhReader.lastQnh = 1000;
  kvo::LiveAircraft active;
  active.state = kvo::AircraftState::Active;
  active.objectId = 101;
  active.callsign = "ACT1";
  active.internalId = 20001;
  kvo::LiveAircraft queued;
  queued.state = kvo::AircraftState::Adding2Sim;
  queued.callsign = "QUE1";
  queued.internalId = 20002;
  kvo::LiveAircraft sent = queued;
  sent.internalId = 20003;
  g_liveAircraft = {active, queued, sent};
  // Taken back by internal id: the same callsign on the aircraft whose creation already went.
  kvo::CreateRequest request;
  request.tailNumber = "QUE1";
  request.internalId = 20002;
  g_addingStack.push_back(request);
  // Records of the lost link still waiting out their delay would bring the traffic back.
  setTrafficFeedOpen(true);
  ASSERT_TRUE(appendToTrafficFeed(kvo::FeedRecord{}));

  rt->close();
  // The loss shows at the first send that fails (the first ones may still be buffered).
  for (int i = 0; i < 50 && g_rtConnected.load(); ++i) {
    sendUserPositionToRT();
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_FALSE(g_rtConnected.load());
  EXPECT_FALSE(g_mainWindow.g_rtLinkUp.load());
  EXPECT_EQ(g_feedEpochTime.load(), 0.0);
  EXPECT_EQ(g_qnhReader.lastQnh.load(), kvo::kStandardQnh);
  EXPECT_EQ(trafficFeedSize(), 0u);
  EXPECT_TRUE(contains(message(), "RealTraffic gone? Wait for RealTraffic to re-connect ..."));
  // The queued creation was taken back (its record goes at the end of the tick); the one
  // already sent is removed once its object exists.
  ASSERT_EQ(g_liveAircraft.size(), 3u);
  EXPECT_EQ(g_liveAircraft[0].state, kvo::AircraftState::RemovingFromSim);
  EXPECT_EQ(g_liveAircraft[1].dropped, 1);
  EXPECT_EQ(g_liveAircraft[1].removeRequested, 0);
  EXPECT_EQ(g_liveAircraft[2].removeRequested, 1);
  EXPECT_TRUE(g_addingStack.empty());

  // While nobody connects the main loop's call returns at once.
  const auto start = std::chrono::steady_clock::now();
  sendUserPositionToRT();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms);

  FakeRealTraffic again(port_);
  ASSERT_TRUE(again.connected());
  ASSERT_TRUE(coretest::waitFor([] {
    sendUserPositionToRT();
    return g_rtConnected.load();
  }));
  EXPECT_TRUE(g_mainWindow.g_rtLinkUp.load());
  EXPECT_TRUE(contains(log(), "RealTraffic re-connected"));
  sendUserPositionToRT();
  EXPECT_TRUE(again.readLine().starts_with("Qs121="));
}

TEST_F(RtLinkTest, ClosingSaysExitAndBalancesWinsock) {
  auto rt = handshake(R"({"version":"9"})");
  closeRealTrafficLink();
  EXPECT_EQ(rt->readLine(), "exit");
  EXPECT_EQ(rt->readLine(200ms), "");  // closed
  EXPECT_FALSE(g_rtConnected.load());
  EXPECT_EQ(realTrafficServerPort(), 0);
  EXPECT_EQ(kvo::winsocktest::startupCount(), startupsBefore_);
}

TEST_F(RtLinkTest, ATakenPortIsAClearErrorAndLeavesNothingOpen) {
  resetRealTrafficLinkForTests();
  const std::size_t socketsBefore = kvo::winsocktest::openSocketCount();
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::listen(listener, 1);
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string port = std::to_string(ntohs(address.sin_port));
  std::string error;
  try {
    startRealTrafficServer(port);
  } catch (const std::runtime_error& e) {
    error = e.what();
  }
  ::close(listener);
  EXPECT_TRUE(error.starts_with("Bind failed at port " + port + " with error 10048")) << error;
  EXPECT_EQ(kvo::winsocktest::openSocketCount(), socketsBefore);
  EXPECT_EQ(realTrafficServerPort(), 0);
  EXPECT_EQ(kvo::winsocktest::startupCount(), startupsBefore_);
}

// However a reply is cut into pieces, it is complete at the piece that ends its JSON value, and
// not before; the fuzzer's inputs hold the same for every cut.
TEST(RealTrafficReply, CompleteExactlyWhenItsValueEnds) {
  for (const std::string reply : {R"({"version":"10.0.200","level":2})", R"(  [1,{"a":"}]"}] )", R"("text with \" and }")",
                                  "true", "12"}) {
    kvo::ReplyReader reader;
    std::size_t used = 0;
    kvo::ReplyProgress progress = kvo::ReplyProgress::Partial;
    while (progress == kvo::ReplyProgress::Partial && used < reply.size()) progress = reader.add(reply.substr(used++, 1));
    EXPECT_EQ(progress, kvo::ReplyProgress::Complete) << reply;
    EXPECT_TRUE(nlohmann::json::accept(reader.text())) << reply;
    EXPECT_FALSE(nlohmann::json::accept(reader.text().substr(0, reader.text().size() - 1))) << reply;
  }
  kvo::ReplyReader big;
  EXPECT_EQ(big.add(std::string(kvo::kRtReceiveBufferSize, ' ')), kvo::ReplyProgress::Overrun);
  for (const auto& [file, data] : coretest::fuzzInputs("rt_reply")) EXPECT_TRUE(fuzzinput::readRealTrafficReplyInput(data)) << file;
}

}  // namespace
