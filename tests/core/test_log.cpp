#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/files.h"
#include "core/log.h"
#include "core/run_flags.h"
#include "core/timeutil.h"
#include "support/test_support.h"

namespace {

using namespace std::chrono;

class LogFile : public ::testing::Test {
 protected:
  void TearDown() override {
    closeLogFile();
    g_stopRequested = false;
    g_quitRequested = false;
    resetTimeState();
  }
  std::vector<std::string> lines() {
    std::istringstream in(coretest::readFile(dir_ / "Log.txt"));
    return readLines(in);
  }
  coretest::TempFolder dir_;
};

TEST_F(LogFile, HeaderLine) {
  kvo::setUtcNowForTests(sys_days{2024y / March / 4} + hours{5} + minutes{6} + seconds{7});
  ASSERT_TRUE(openLogFile(dir_.path()));
  EXPECT_TRUE(isLogOpen());
  const auto l = lines();
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0], "Mon Mar 04 05:06:07 2024 (utc) Ambrelvane version 1.0.0 for MSFS 2020/2024");
}

TEST_F(LogFile, KeepsTwoBackups) {
  coretest::writeFile(dir_ / "Log0.txt", "older run\n");
  coretest::writeFile(dir_ / "Log.txt", "last run\n");
  ASSERT_TRUE(openLogFile(dir_.path()));
  EXPECT_EQ(coretest::readFile(dir_ / "Log00.txt"), "older run\n");
  EXPECT_EQ(coretest::readFile(dir_ / "Log0.txt"), "last run\n");
  EXPECT_EQ(lines().size(), 1u);  // a fresh log with its header only
}

TEST_F(LogFile, WritersAndPrefixes) {
  ASSERT_TRUE(openLogFile(dir_.path()));
  logLine("plain");
  logArrowLine("warning");
  logIndentedLine("continued");
  logLineIfRunning("running");
  // Written as it comes: readable before the file is closed.
  const auto l = lines();
  ASSERT_EQ(l.size(), 5u);
  EXPECT_EQ(l[1], "plain");
  EXPECT_EQ(l[2], "===> warning");
  EXPECT_EQ(l[3], "          continued");
  EXPECT_EQ(l[4], "running");
}

// One call, one line: text quoted from outside can neither start a line of its own nor write raw
// bytes; line feeds at the very start or end stay the blank lines the caller asked for.
TEST_F(LogFile, EveryEntryIsOneLineOfCleanText) {
  ASSERT_TRUE(openLogFile(dir_.path()));
  const struct {
    std::string text;
    std::string written;  // after the header line, line ends included
  } cases[] = {
      {"DLH\n===> parks at 12", "DLH\\x0A===> parks at 12\n"},
      {std::string("DLH\0X1 \r\t", 9), "DLH\\x00X1 \\x0D\\x09\n"},
      {"AAL7\xFF \xC2\x85 \xC3\x96", "AAL7\\xFF \\xC2\\x85 \xC3\x96\n"},
      {"\nThe park airport is LOWS", "\nThe park airport is LOWS\n"},
      {"Restarting after 5 seconds\n\n", "Restarting after 5 seconds\n\n\n"},
      {"\n", "\n\n"},
      {"", "\n"},
  };
  std::string expected = coretest::readFile(dir_ / "Log.txt");
  for (const auto& c : cases) {
    logLine(c.text);
    expected += c.written;
  }
  logArrowLine("a\nb");
  expected += "===> a\\x0Ab\n";
  EXPECT_EQ(coretest::readFile(dir_ / "Log.txt"), expected);
}

// A list of problems longer than its limit: the first lines in full, then one count.
TEST_F(LogFile, TheFirstLinesOfAListAndACountOfTheRest) {
  ASSERT_TRUE(openLogFile(dir_.path()));
  const std::vector<std::pair<std::size_t, std::vector<std::string>>> cases{
      {0, {}},
      {3, {"===> p0", "===> p1", "===> p2"}},
      {4, {"===> p0", "===> p1", "===> p2", "===> 1 more"}},
  };
  for (const auto& [count, expected] : cases) {
    const std::size_t before = lines().size();
    kvo::logFirstAndCount(
        count, 3, [](std::size_t i) { return "p" + std::to_string(i); },
        [](std::size_t more) { return std::to_string(more) + " more"; });
    const auto l = lines();
    EXPECT_EQ(std::vector<std::string>(l.begin() + static_cast<std::ptrdiff_t>(before), l.end()), expected) << count;
  }
}

TEST_F(LogFile, IfRunningIsSilentAfterAStopOrQuit) {
  ASSERT_TRUE(openLogFile(dir_.path()));
  g_stopRequested = true;
  logLineIfRunning("after stop");
  g_stopRequested = false;
  g_quitRequested = true;
  logLineIfRunning("after quit");
  logLine("plain still written");
  const auto l = lines();
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[1], "plain still written");
}

TEST_F(LogFile, NothingIsWrittenWhileClosed) {
  closeLogFile();
  EXPECT_FALSE(isLogOpen());
  logLine("lost");  // must not crash
  logArrowLine("lost");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Log.txt"));
}

TEST_F(LogFile, OpenFailsForAMissingFolder) { EXPECT_FALSE(openLogFile(dir_ / "missing")); }

TEST_F(LogFile, LinesFromManyThreadsStayWhole) {
  ASSERT_TRUE(openLogFile(dir_.path()));
  constexpr int kThreads = 8, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) logLine(fmt::format("thread {} line {} {}", t, i, std::string(40, 'x')));
    });
  }
  for (auto& th : threads) th.join();
  const auto l = lines();
  ASSERT_EQ(l.size(), 1u + kThreads * kLines);
  const std::string tail = " " + std::string(40, 'x');
  for (std::size_t i = 1; i < l.size(); ++i) {
    ASSERT_TRUE(l[i].starts_with("thread ") && l[i].ends_with(tail) && l[i].size() < 70u) << l[i];
  }
}

// Per kind: the first line of a period written, the rest counted and the count written once
// the period is over (or at the end); each kind keeps its own writer and period.
TEST_F(LogFile, RepeatedLinesAreCountedPerKindAndPeriod) {
  ASSERT_TRUE(openLogFile(dir_.path()));
  const auto start = sys_days{2024y / March / 4} + hours{5};
  kvo::setUtcNowForTests(start);
  kvo::RepeatedLogLines repeated;
  repeated.flush(true);  // nothing counted: nothing written
  for (int i = 0; i < 3; ++i) repeated.write("a", fmt::format("a {}", i));
  repeated.write("b", "b 0", logArrowLine);
  repeated.write("b", "b 1", logArrowLine);
  kvo::setUtcNowForTests(start + seconds{9});
  repeated.write("a", "a 3");
  repeated.flush();  // within the period: nothing
  kvo::setUtcNowForTests(start + seconds{10});
  repeated.flush();  // both periods over
  repeated.write("a", "a 4");  // a new period
  repeated.write("a", "a 5");
  kvo::setUtcNowForTests(start + seconds{5});  // a clock set back before a period starts a new one
  repeated.write("a", "a 6");
  repeated.write("b", "b 2", logArrowLine);  // still in the period of "b 0"
  repeated.flush(true);
  const auto l = lines();
  EXPECT_EQ(std::vector<std::string>(l.begin() + 1, l.end()),
            (std::vector<std::string>{"a 0", "===> b 0", "3 more \"a\" lines in 10 s", "===> 1 more \"b\" line in 10 s",
                                      "a 4", "1 more \"a\" line in 10 s", "a 6", "===> 1 more \"b\" line in 10 s"}));
}

}  // namespace
