// The window of the real program as a person sees and uses it here: window.png with its texts,
// and clicks and typing delivered through the window input file. The program runs in the run
// command's layout against the stand-in simulator running by itself.
#include <gtest/gtest.h>

#include "window_support.h"

using namespace e2e;

namespace {

constexpr COLORREF kLime = 0x32CD32;
constexpr COLORREF kYellow = 0x00FFFF;
constexpr COLORREF kRed = 0x0000FF;
constexpr int kSimLampX = 411, kLampY = 40;   // inside the simulator lamp
constexpr int kMessageLineX = 870, kMessageLineY = 470;
constexpr unsigned kLogBox = 0x800B;
constexpr unsigned kUserAirBox = 0x8041;
constexpr unsigned kReReadButton = 0x8046;
constexpr unsigned kDestinationBox = 0x8047;
constexpr unsigned kInstallPathBox = 0x8014;

TEST(WindowRun, ThePictureShowsTheRunAndTheUsersSettingsTakeEffect) {
  Installation at;
  at.writeScenario();
  Program program(at);
  ASSERT_TRUE(program.started());
  // RealTraffic's QNH, every 2 s while the test runs.
  const Feeder qnh(at, [](double) { return Feeder::Datagrams{{kQnhPort, R"({"QNH":1013.2})"}}; });

  // The scenario's start: header, the simulator connected (lime lamp), QNH, the message line.
  const auto started = waitForPicture(
      at,
      [](const WindowPicture& p) {
        return p.pixel(kSimLampX, kLampY) == kLime && textAt(p, u"qnh: 1013", 642, 63) == kLime;
      },
      90s);
  ASSERT_TRUE(started) << at.log();
  EXPECT_EQ(started->width, 880);
  EXPECT_EQ(textAt(*started, u"Version 1.0.0", 3, 7), kLime);
  EXPECT_EQ(textAt(*started, u"Ambrelvane", 390, 7), kLime);
  EXPECT_EQ(textAt(*started, u"MSFS 2020 (11.0.282174.999)", 5, 35), kLime);
  EXPECT_EQ(textAt(*started, u"Sim", 398, 63), kLime);
  EXPECT_EQ(textAt(*started, u"RT", 430, 63), kLime);
  EXPECT_EQ(started->pixel(kMessageLineX, kMessageLineY), kLime);

  // A click on LOG switches it off and saves it; a click on "User air" tells what follows.
  ASSERT_EQ(storedParameter(at, "LOG"), "true");
  ASSERT_TRUE(sendWindowInput(at, {clickLine(kLogBox), clickLine(kUserAirBox)}));
  // The two clicks are saved one after the other: wait for the second too.
  ASSERT_TRUE(waitUntil([&] { return storedParameter(at, "LOG") == "false"; }, 10s));
  EXPECT_TRUE(waitUntil([&] { return storedParameter(at, "COLLISION_USER_AIR") == "false"; }, 10s))
      << storedParameter(at, "COLLISION_USER_AIR");
  const std::u16string warning = u"Be aware, no collision avoidance with user aircraft in the air";
  EXPECT_TRUE(waitForPicture(at, [&](const WindowPicture& p) { return textAt(p, warning, 3, 455) == kYellow; }, 10s));

  // DESTINATION is taken once the park airport check let its box be used: "Re-read", then type.
  ASSERT_TRUE(sendWindowInput(at, {clickLine(kReReadButton)}));
  const bool taken = waitUntil(
      [&] {
        sendWindowInput(at, typeLines(kDestinationBox, "lows", 8));
        return waitUntil([&] { return storedParameter(at, "DESTINATION") == "LOWS"; }, 1s);
      },
      60s);
  ASSERT_TRUE(taken) << at.log();
  // The code is saved before the line is logged.
  EXPECT_TRUE(waitUntil([&] { return contains(at.log(), "New destination: LOWS"); }, 10s)) << at.log();
  const auto destination = waitForPicture(
      at, [](const WindowPicture& p) { return textAt(p, u"New destination: LOWS", 3, 455) == kYellow; }, 10s);
  ASSERT_TRUE(destination);
  EXPECT_NE(destination->findText(u"LOWS"), nullptr);  // the box shows the code in upper case
  EXPECT_EQ(destination->pixel(kMessageLineX, kMessageLineY), kLime);

  program.signal(SIGTERM);
  EXPECT_EQ(program.waitForExit(30s), 0) << program.output();
}

TEST(WindowRun, AStartUpErrorShowsRedUntilTheUserTypesThePath) {
  Installation at;
  at.writeScenario();
  // No simulator installation to find: the user must type its packages folder.
  const fs::path cache = at.local() / "Packages" / "Microsoft.FlightSimulator_8wekyb3d8bbwe" / "LocalCache";
  fs::remove(cache / "UserCfg.opt");
  Program program(at);
  ASSERT_TRUE(program.started());

  const std::u16string error =
      u"150: No install path detected, type full path to your Community folder above, and press Enter";
  const auto failed = waitForPicture(
      at, [&](const WindowPicture& p) { return p.pixel(kMessageLineX, kMessageLineY) == kRed; }, 60s);
  ASSERT_TRUE(failed) << at.log();
  EXPECT_EQ(textAt(*failed, error, 3, 455), kYellow);

  ASSERT_TRUE(sendWindowInput(at, typeLines(kInstallPathBox, (cache / "Packages").string())));
  ASSERT_TRUE(waitUntil([&] { return contains(at.log(), "Community path found, Ambrelvane will restart ..."); }, 10s))
      << at.log();
  EXPECT_EQ(storedParameter(at, "MSFS_INSTALL_PATH"), (cache / "Packages").string());
  // The restart runs with the typed path: the simulator connects, the line is lime again.
  const auto repaired = waitForPicture(
      at,
      [](const WindowPicture& p) {
        return p.pixel(kSimLampX, kLampY) == kLime && p.pixel(kMessageLineX, kMessageLineY) == kLime;
      },
      90s);
  EXPECT_TRUE(repaired) << at.log();
  EXPECT_TRUE(contains(at.log(), "Prepare for a restart ..."));

  program.signal(SIGTERM);
  EXPECT_EQ(program.waitForExit(30s), 0) << program.output();
}

}  // namespace
