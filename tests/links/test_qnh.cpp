// The QNH reader's decoding, conversions, rounding and publishing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "links/test_udp_support.h"

namespace {

class QnhTest : public readertest::ReaderTest {
 protected:
  void TearDown() override {
    reader_.resetForTests();
    ReaderTest::TearDown();
  }
  void decode(const std::string& datagram) { reader_.handleDatagram(datagram); }
  kvo::QnhReader reader_;
};

struct QnhCase {
  const char* name;
  std::string datagram;
  std::int32_t published;  // 0: nothing published
  std::string log;         // the one log line, empty for none
};

void PrintTo(const QnhCase& c, std::ostream* os) { *os << c.name; }

class QnhCases : public QnhTest, public ::testing::WithParamInterface<QnhCase> {};

TEST_P(QnhCases, ConvertsChecksAndPublishes) {
  const QnhCase& c = GetParam();
  g_qnh.store(0);  // so that a publication of any value shows
  decode(c.datagram);
  EXPECT_EQ(g_qnh.load(), c.published);
  EXPECT_EQ(g_mainWindow.qnh.load(), c.published);
  EXPECT_EQ(reader_.lastQnh.load(), c.published == 0 ? kvo::kStandardQnh : c.published);
  const auto lines = logLines();
  if (c.log.empty()) {
    EXPECT_TRUE(lines.empty());
  } else {
    ASSERT_EQ(lines.size(), 1u);
    // Texts of the JSON library are matched by their start and end only.
    const auto star = c.log.find('*');
    if (star == std::string::npos) {
      EXPECT_EQ(lines.front(), c.log);
    } else {
      EXPECT_EQ(lines.front().substr(0, star), c.log.substr(0, star));
      const std::string tail = c.log.substr(star + 1);
      ASSERT_GE(lines.front().size(), tail.size());
      EXPECT_EQ(lines.front().substr(lines.front().size() - tail.size()), tail);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, QnhCases,
    ::testing::Values(
        QnhCase{"Integer", R"({"QNH":1005})", 1005, ""},
        QnhCase{"FloatRoundsDown", R"({"QNH":1013.4})", 1013, ""},
        QnhCase{"FloatHalfRoundsAway", R"({"QNH":1013.5})", 1014, ""},
        QnhCase{"FloatInSinglePrecision", R"({"QNH":1009.49999999})", 1010, ""},  // 1009.5f
        QnhCase{"InHg2992", R"({"QNH":2992})", 1013, ""},
        QnhCase{"InHg3100", R"({"QNH":3100})", 1050, ""},
        QnhCase{"InHgAsFloat", R"({"QNH":2992.4})", 1013, ""},
        QnhCase{"LowestAccepted", R"({"QNH":930})", 930, ""},
        QnhCase{"HighestAccepted", R"({"QNH":1080})", 1080, ""},
        QnhCase{"TooLow", R"({"QNH":929})", 0, R"(? Strange QNH 929 found in {"QNH":929})"},
        QnhCase{"1081IsInHg", R"({"QNH":1081})", 0, R"(? Strange QNH 366 found in {"QNH":1081})"},
        QnhCase{"Negative", R"({"QNH":-1013})", 0, R"(? Strange QNH -1013 found in {"QNH":-1013})"},
        QnhCase{"StringWithTail", R"({"QNH":"1005hPa"})", 1005, ""},
        QnhCase{"StringOfLetters", R"({"QNH":"abc"})", 0, R"(===> QNH string parse error: abc in {"QNH":"abc"})"},
        QnhCase{"StringBeyondInt32", R"({"QNH":"99999999999"})", 0,
                R"(===> QNH string parse error: 99999999999 in {"QNH":"99999999999"})"},
        QnhCase{"StringLeadingBlank", R"({"QNH":" 1013"})", 0, R"(===> QNH string parse error:  1013 in {"QNH":" 1013"})"},
        QnhCase{"StringDecimalInHg", R"({"QNH":"29.92"})", 0, R"(? Strange QNH 29 found in {"QNH":"29.92"})"},
        QnhCase{"Missing", R"({"qnh":1013})", 0, R"(no QNH {"qnh":1013})"},
        QnhCase{"Null", R"({"QNH":null})", 0, R"(no QNH {"QNH":null})"},
        QnhCase{"Boolean", R"({"QNH":true})", 0, R"(no QNH {"QNH":true})"},
        QnhCase{"Array", R"({"QNH":[1013]})", 0, R"(no QNH {"QNH":[1013]})"},
        QnhCase{"NotJson", "QNH=1013", 0, "Exception *, in QNH=1013"},
        QnhCase{"TopLevelNotAnObject", "[1013]", 0, "Exception *, in [1013]"},
        QnhCase{"IntegerBeyondInt32", R"({"QNH":5000000000})", 0, R"(Exception *, in {"QNH":5000000000})"},
        QnhCase{"FloatBeyondInt32", R"({"QNH":3e9})", 0, R"(Exception *, in {"QNH":3e9})"},
        QnhCase{"FloatBeyondSingle", R"({"QNH":1e300})", 0, R"(Exception *, in {"QNH":1e300})"},
        QnhCase{"ControlCharactersEscaped", "{\"QNH\":\n}", 0, "Exception *, in {\"QNH\":\\x0A}"}),
    [](const ::testing::TestParamInfo<QnhCase>& info) { return std::string(info.param.name); });

TEST_F(QnhTest, SameValuePublishedOnceExceptTheStandard) {
  decode(R"({"QNH":1008})");
  EXPECT_EQ(g_mainWindow.qnh.load(), 1008);
  g_mainWindow.qnh.store(0);
  decode(R"({"QNH": 1008})");  // another datagram, the same value
  EXPECT_EQ(g_mainWindow.qnh.load(), 0);

  decode(R"({"QNH":1013})");
  EXPECT_EQ(g_mainWindow.qnh.load(), 1013);
  g_mainWindow.qnh.store(0);
  decode(R"({"QNH": 1013})");
  EXPECT_EQ(g_mainWindow.qnh.load(), 1013);
}

TEST_F(QnhTest, PublishingWakesAnIdleLampOnly) {
  g_mainWindow.g_qnhLamp.store(kvo::kLampIdle);
  decode(R"({"QNH":1001})");
  EXPECT_EQ(g_mainWindow.g_qnhLamp.load(), kvo::kLampReceiving);

  g_mainWindow.g_qnhLamp.store(kvo::kLampStopped);
  decode(R"({"QNH":1002})");
  EXPECT_EQ(g_mainWindow.g_qnhLamp.load(), kvo::kLampStopped);

  g_mainWindow.g_qnhLamp.store(kvo::kLampIdle);
  decode(R"({"QNH":1200})");  // strange: nothing published, the lamp stays
  EXPECT_EQ(g_mainWindow.g_qnhLamp.load(), kvo::kLampIdle);
}

TEST_F(QnhTest, FuzzRegressionInputs) {
  const auto inputs = readertest::fuzzInputs("qnh");
  for (const auto& [file, data] : inputs) {
    reader_.handleDatagram(data);
    const std::int32_t qnh = g_qnh.load();
    EXPECT_TRUE(qnh >= 930 && qnh <= 1080) << file;
  }
}

}  // namespace
