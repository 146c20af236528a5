// Stand options and week slots, and the stand search: the half-hour arithmetic across days and
// the week's end, the widening of a use while an aircraft stays, the ranking and the fitting
// rules by size and kind, and findStandAt from another thread.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <atomic>
#include <bitset>
#include <thread>

#include "stand_test_support.h"

namespace {

using kvo::GroundPhase;
using kvo::StandUse;
using kvo::WeekSlot;
using standtest::option;
using standtest::slot;
using standtest::StandTest;
using traffictest::countOf;

// The half hours of a use as a list, oldest first.
std::vector<int> halves(const StandUse& u) {
  std::vector<int> out;
  for (int i = 0; i < 48; ++i) {
    if ((u.halfHours >> i) & 1u) out.push_back(i);
  }
  return out;
}
const StandUse* useOf(const kvo::Stand& s, std::uint32_t id) {
  for (const StandUse& u : s.uses) {
    if (u.optionId == id) return &u;
  }
  return nullptr;
}

TEST(WeekSlots, StepsBackAndForthAcrossMidnightAndTheWeeksEnd) {
  EXPECT_EQ(kvo::previousSlots(4, slot(1, 1)), (std::vector<std::int32_t>{1, 0, 47, 46}));
  EXPECT_EQ(kvo::previousSlots(2, slot(3, 20)), (std::vector<std::int32_t>{20, 19}));
  EXPECT_TRUE(kvo::previousSlots(0, slot(3, 20)).empty());
  EXPECT_EQ(kvo::nextWeekSlot(slot(3, 5)), slot(3, 6));
  EXPECT_EQ(kvo::nextWeekSlot(slot(3, 47)), slot(4, 0));
  EXPECT_EQ(kvo::nextWeekSlot(slot(7, 47)), slot(1, 0));
  EXPECT_EQ(kvo::weekSlotIndex(slot(1, 0)), 0);
  EXPECT_EQ(kvo::weekSlotIndex(slot(7, 47)), 335);
}

// checkStandSlot: an aircraft booked at one half hour seen again at another.
struct StayCase {
  const char* name;
  std::string type;
  std::uint8_t cargo;
  WeekSlot booked;
  WeekSlot now;
  bool widened;
  std::vector<int> bookedUse;  // the booked use's half hours afterwards
  std::vector<int> newUse;     // a use made for today, when the stay crossed midnight
};

TEST_F(StandTest, AStayIsWidenedHalfHourByHalfHourWithinItsWindow) {
  const std::vector<StayCase> cases{
      {"same day, 4 half hours", "A20N", 0, slot(3, 10), slot(3, 14), true, {10, 11, 12, 13, 14}, {}},
      {"Large, 5 half hours", "A20N", 0, slot(3, 10), slot(3, 15), true, {10, 11, 12, 13, 14, 15}, {}},
      {"Large, 6 half hours: too long", "A20N", 0, slot(3, 10), slot(3, 16), false, {10}, {}},
      {"Heavy, 7 half hours", "B77W", 0, slot(3, 10), slot(3, 17), true, {10, 11, 12, 13, 14, 15, 16, 17}, {}},
      {"Heavy, 8 half hours: too long", "B77W", 0, slot(3, 10), slot(3, 18), false, {10}, {}},
      {"cargo, 11 half hours", "A20N", 1, slot(3, 10), slot(3, 21), true,
       {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21}, {}},
      {"booked later today: no stay", "A20N", 0, slot(3, 14), slot(3, 10), false, {14}, {}},
      {"Sunday 47 to Monday 1", "A20N", 0, slot(7, 47), slot(1, 1), true, {47}, {0, 1}},
      {"Sunday 45 to Monday 1", "A20N", 0, slot(7, 45), slot(1, 1), true, {45, 46, 47}, {0, 1}},
      {"Tuesday 46 to Wednesday 0", "A20N", 0, slot(2, 46), slot(3, 0), true, {46, 47}, {0}},
  };
  for (const StayCase& c : cases) {
    SCOPED_TRACE(c.name);
    g_parkStands.clear();
    kvo::Stand& s = stand(1, "A1", 0.0, 20.0);
    kvo::LiveAircraft& ac = ground(0xAA0001, "DLH1", c.type, 0.0, GroundPhase::Parked);
    ac.cargo = c.cargo;
    kvo::SlotRecord first;
    readSlotRecord(s.uses, first, ac, 1, c.booked, ac.callsign, ac.registration);
    ASSERT_TRUE(first.added);
    kvo::StandBooking booking{c.booked, first.id};

    EXPECT_EQ(checkStandSlot(c.now, s, first.id, booking, ac, ac.registration, 1), c.widened);
    EXPECT_EQ(halves(*useOf(s, first.id)), c.bookedUse);
    if (!c.newUse.empty()) {
      ASSERT_EQ(s.uses.size(), 2u);
      EXPECT_EQ(halves(s.uses[1]), c.newUse);
      EXPECT_EQ(s.uses[1].weekday, kvo::weekSlotDay(c.now));
      EXPECT_EQ(booking.optionId, s.uses[1].optionId) << "the booking follows the new day's use";
    }
    EXPECT_EQ(booking.weekSlot, c.widened ? c.now : c.booked);
    g_liveAircraft.clear();
  }
}

TEST_F(StandTest, UsesAreKeyedByRegistrationElseCallsignAndGetFreshIds) {
  kvo::Stand& s = stand(1, "A1", 0.0, 20.0);
  kvo::LiveAircraft& ac = ground(0xAA0001, "DLH1__", "A20N", 0.0, GroundPhase::Parked);
  // Uses out of id order: the new one gets an id above all of them.
  s.uses = {option(5, 2, 0), option(2, 2, 0)};
  ASSERT_TRUE(lt_addStandOption(1, ac, slot(3, 10), false));
  ASSERT_EQ(s.uses.size(), 3u);
  EXPECT_EQ(s.uses[2].optionId, 6u);
  EXPECT_EQ(s.uses[2].key, "D-DLH1__");
  EXPECT_EQ(s.uses[2].callsign, "DLH1_") << "one trailing _ cut";
  EXPECT_EQ(s.uses[2].real, 1u);
  EXPECT_EQ(g_standUpdates, 1u);
  EXPECT_EQ(g_mainWindow.standUpdateCount.load(), 1);

  ac.registration.clear();
  ac.callsign = "EZY7_";
  ASSERT_TRUE(lt_addStandOption(1, ac, slot(3, 10), false));
  EXPECT_EQ(s.uses.back().key, "EZY7_");
  EXPECT_EQ(s.uses.back().callsign, "EZY7");
  ac.callsign.clear();
  EXPECT_FALSE(lt_addStandOption(1, ac, slot(3, 10), false)) << "no key at all";
  EXPECT_FALSE(lt_addStandOption(9, ac, slot(3, 10), false)) << "no such stand";
  ac.callsign = "EZY7";
  EXPECT_FALSE(lt_addStandOption(1, ac, slot(3, 48), false));
  EXPECT_NE(log().find("lt_addStandOption: hh_now: 48"), std::string::npos) << log();
}

// An arrival on Sunday 46, a departure on Monday 1 although the stand holds a Monday use of the
// same aircraft from last week: the stay widens the Sunday booking, not last week's Monday use.
TEST_F(StandTest, ADepartureWidensTheUseItsArrivalBooked) {
  kvo::Stand& s = stand(1, "A1", 0.0, 20.0);
  kvo::LiveAircraft& ac = ground(0xAA0001, "DLH1", "A20N", 0.0, GroundPhase::Parked);
  ASSERT_TRUE(lt_addStandOption(1, ac, slot(1, 30), false));  // last week
  s.realBookings.clear();
  ASSERT_TRUE(lt_addStandOption(1, ac, slot(7, 46), false));  // the arrival
  ASSERT_TRUE(lt_addStandOption(1, ac, slot(1, 1), true));    // the departure
  ASSERT_EQ(s.uses.size(), 3u);
  EXPECT_EQ(halves(*useOf(s, 1)), std::vector<int>{30}) << "last week's use untouched";
  EXPECT_EQ(halves(*useOf(s, 2)), (std::vector<int>{46, 47}));
  EXPECT_EQ(halves(*useOf(s, 3)), (std::vector<int>{0, 1}));
  EXPECT_TRUE(s.realBookings.empty()) << "the booking is used up";

  // A use fixed by hand that lacks the half hour takes no option of its key that day.
  s.uses.push_back(option(9, 4, 1, "D-DLH1"));
  s.uses.back().fixed = 1;
  EXPECT_FALSE(lt_addStandOption(1, ac, slot(4, 5), false));
}

TEST_F(StandTest, StampsKeepAnAircraftFromBeingPlannedAgainWithinThreeHalfHours) {
  struct Case {
    std::uint32_t slot;
    bool force;
    bool stamped;
  };
  EXPECT_TRUE(stampIdSlot(slot(1, 47), 7, false)) << "first stamp";
  for (const Case& c : std::vector<Case>{{1, false, false}, {2, false, true}, {3, false, false}, {3, true, true}}) {
    SCOPED_TRACE(c.slot);
    EXPECT_EQ(stampIdSlot(slot(2, c.slot), 7, c.force), c.stamped);
  }
  ASSERT_EQ(g_idSlotStamps.size(), 1u);
  EXPECT_EQ(g_idSlotStamps[0].slot, 3u);

  const StandUse use = option(1, 2, std::uint64_t{1} << 47, "D-X");
  EXPECT_TRUE(slotOrNeighbourSet(slot(2, 0), "D-X", use)) << "slot 0 looks at 47";
  EXPECT_TRUE(slotOrNeighbourSet(slot(2, 46), "D-X", use));
  EXPECT_FALSE(slotOrNeighbourSet(slot(2, 45), "D-X", use));
  EXPECT_FALSE(slotOrNeighbourSet(slot(3, 0), "D-X", use)) << "another day";
}

// The ranked search by kind: which stand an aircraft gets among a gate, a ramp, a cargo and a
// helicopter stand, each 40 m wide in radius.
struct KindCase {
  const char* name;
  std::string type;
  std::uint8_t cargo;
  std::string airline;
  std::string airport;
  std::string stand;
};

TEST_F(StandTest, TheRankedSearchOffersStandsByKind) {
  stand(1, "gate", 0.0, 40.0);
  stand(2, "ramp", 200.0, 40.0).ramp = 1;
  stand(3, "cargo", 400.0, 40.0).cargo = 1;
  kvo::Stand& heli = stand(4, "heli", 600.0, 40.0);
  heli.heli = 1;
  heli.ramp = 1;
  const std::vector<KindCase> cases{
      {"airliner prefers gates", "A20N", 0, "DLH", "EDXX", "gate"},
      {"private flights go to the ramp", "A20N", 0, "PVT", "EDXX", "ramp"},
      {"light aircraft go to the ramp", "C172", 0, "DLH", "EDXX", "ramp"},
      {"cargo to cargo", "B77W", 1, "DLH", "EDXX", "cargo"},
      {"rotorcraft to the helipad", "A139", 0, "DLH", "EDXX", "heli"},
  };
  for (const KindCase& c : cases) {
    SCOPED_TRACE(c.name);
    g_parkAirport = c.airport;
    kvo::LiveAircraft& ac = ground(0xAA0001, "DLH1", c.type, 0.0, GroundPhase::Taxi);
    ac.cargo = c.cargo;
    ac.airline = c.airline;
    const kvo::Stand* s = collectStandOptions(slot(3, 10), ac, false);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->name, c.stand);
    g_liveAircraft.clear();
  }
}

TEST_F(StandTest, TheRankedSearchTakesTheClosestFitAndFallsBackToAnyFreeStand) {
  kvo::LiveAircraft& wide = ground(0xAA0001, "BAW1", "B77W", 0.0, GroundPhase::Taxi);  // half span 32.4 m
  wide.airline = "BAW";
  // Above 17.8 m of half span scores go in 21 m steps: 40 m larger is 2 steps, 20 m larger 1;
  // 2 m smaller does not fit.
  stand(1, "big", 0.0, 72.4);
  stand(2, "good", 100.0, 52.4);
  stand(3, "small", 200.0, 30.4);
  std::vector<kvo::StandOption> options;
  checkStandSize(slot(3, 10), true, wide, options);
  ASSERT_EQ(options.size(), 2u);
  EXPECT_EQ(options[0].score, 2);
  EXPECT_EQ(options[1].score, 1);
  EXPECT_EQ(collectStandOptions(slot(3, 10), wide, false)->name, "good");

  // A real use of the airline and type on the big stand outranks the better fit.
  standById(1).uses.push_back(option(1, 1, 0));
  standById(1).uses.back().airline = "BAW";
  standById(1).uses.back().type = "B77W";
  EXPECT_EQ(collectStandOptions(slot(3, 10), wide, false)->name, "big");
  // Booked at this half hour: not offered.
  standById(1).uses.back().weekday = 3;
  standById(1).uses.back().halfHours = std::uint64_t{1} << 10;
  EXPECT_EQ(collectStandOptions(slot(3, 10), wide, false)->name, "good");

  // Nothing fits: every free stand of the pass qualifies.
  g_parkStands.clear();
  stand(3, "small", 200.0, 20.0);
  EXPECT_EQ(collectStandOptions(slot(3, 10), wide, false)->name, "small");
}

TEST_F(StandTest, ASmallAirportRetriesTheNextHalfHourALargerOneDoesNot) {
  kvo::LiveAircraft& ac = ground(0xAA0001, "DLH1", "A20N", 0.0, GroundPhase::Taxi);
  for (const std::size_t count : {10u, 11u}) {
    SCOPED_TRACE(count);
    g_parkStands.clear();
    for (std::uint32_t i = 1; i <= count; ++i) {
      // Every stand is booked at 3/10 but free at 3/11.
      stand(i, "S" + std::to_string(i), 100.0 * i, 20.0)
          .uses.push_back(option(1, 3, std::uint64_t{1} << 10));
    }
    EXPECT_EQ(collectStandOptions(slot(3, 10), ac, true) != nullptr, count == 10);
  }
}

// findStandForArrival: sizes, distances and the heli rule.
struct ArrivalCase {
  const char* name;
  std::string type;
  double radiusM;      // of the stand 10 m away (heli when negative: its size)
  double distanceM;
  bool wide;
  bool taken;
  double radiusAfterM;  // the stand's radius afterwards
};

TEST_F(StandTest, AnArrivalTakesTheNearestFreeStandThatFitsOrEnlargesOneItStandsOn) {
  const std::vector<ArrivalCase> cases{
      {"fits", "A20N", 20.0, 10.0, false, true, 20.0},
      {"1.5 m wider still fits", "A20N", 16.4, 10.0, false, true, 16.4},
      {"2 m wider, close: enlarged", "A20N", 15.9, 10.0, false, true, 16.9},
      {"2 m wider, 30 m away", "A20N", 15.9, 30.0, false, false, 15.9},
      {"fits, 30 m away", "A20N", 20.0, 30.0, false, true, 20.0},
      {"fits, 60 m away", "A20N", 20.0, 60.0, false, false, 20.0},
      {"zero radius, close: enlarged", "A20N", 0.0, 10.0, false, true, 16.9},
      {"negative radius, 30 m away", "A20N", -5.0, 30.0, false, false, -5.0},
      {"helipad refused to an airliner", "A20N", -20.0, 10.0, false, false, 20.0},
      {"helipad for a rotorcraft", "A139", -20.0, 10.0, false, true, 20.0},
      {"airliner stand refused to a rotorcraft", "A139", 20.0, 10.0, false, false, 20.0},
  };
  for (const ArrivalCase& c : cases) {
    SCOPED_TRACE(c.name);
    g_parkStands.clear();
    kvo::Stand& s = stand(1, "S1", c.distanceM, std::abs(c.radiusM));
    if (c.radiusM < 0.0 && c.radiusM != -5.0) s.heli = 1;
    if (c.radiusM == -5.0) s.radius = -5.0 * standtest::kM;
    kvo::LiveAircraft& ac = ground(0xAA0001, "DLH1", c.type, 0.0, GroundPhase::Taxi);
    const kvo::Stand* found = findStandForArrival(kvo::LatLon{ac.position.lat, ac.position.lon}, ac, kvo::kStandReachNm, c.wide);
    EXPECT_EQ(found != nullptr, c.taken);
    EXPECT_NEAR(s.radius / standtest::kM, c.radiusAfterM, 0.01);
    EXPECT_EQ(s.radius_change, c.radiusAfterM != std::abs(c.radiusM) && c.radiusM != -5.0 ? 1 : 0);
    // An occupied stand is never offered.
    s.occupied = 1;
    EXPECT_EQ(findStandForArrival(kvo::LatLon{ac.position.lat, ac.position.lon}, ac, kvo::kStandReachNm, c.wide), nullptr);
    g_liveAircraft.clear();
  }
}

TEST_F(StandTest, FindStandAtAnswersFromItsSnapshotWhichEveryChangeRenews) {
  stand(1, "A1", 0.0, 20.0);
  stand(2, "A2", 40.0, 20.0);
  const kvo::LatLon near2{traffictest::kUserLat, traffictest::kUserLon + 30.0 * standtest::kMLon};
  EXPECT_EQ(findStandAt(near2), "") << "the user is not on the ground";
  setUser(near2.lat, near2.lon, 0.0, true);
  EXPECT_EQ(findStandAt(near2), "A2");
  EXPECT_EQ(findStandAt(kvo::LatLon{near2.lat + 0.01, near2.lon}), "") << "nothing within 55 m";

  // Asked again at the same place the cached answer holds until the stands change.
  g_parkStands[1].name = "B2";
  EXPECT_EQ(findStandAt(near2), "A2");
  parkStandsChanged();
  EXPECT_EQ(findStandAt(near2), "B2");
  EXPECT_EQ(findStandIdAt(near2), 2u);
  // An option learned is a change as well.
  g_parkStands[1].name = "C2";
  ASSERT_TRUE(lt_addStandOption(2, ground(0xAA0001, "DLH1", "A20N", 30.0, GroundPhase::Parked), slot(3, 3), false));
  EXPECT_EQ(findStandAt(near2), "C2");
}

// The simulator thread asks while the worker refills and reallocates the stand list.
TEST_F(StandTest, FindStandAtOnAnotherThreadWhileTheWorkerChangesTheStands) {
  setUser(traffictest::kUserLat, traffictest::kUserLon, 0.0, true);
  std::atomic<bool> done{false};
  std::atomic<int> answers{0};
  std::thread simClient([&] {
    while (!done.load()) {
      const std::string name = findStandAt(kvo::LatLon{traffictest::kUserLat, traffictest::kUserLon + (answers % 3) * 1e-5});
      if (!name.empty() && name[0] != 'S') ADD_FAILURE() << name;
      ++answers;
    }
  });
  for (int round = 0; round < 200; ++round) {
    g_parkStands.clear();
    g_parkStands.shrink_to_fit();
    for (std::uint32_t i = 1; i <= 20; ++i) stand(i, "S" + std::to_string(round), 5.0 * i, 20.0);
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (answers.load() < 100 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  done = true;
  simClient.join();
  EXPECT_GE(answers.load(), 100);
}

TEST_F(StandTest, ABadStandListAndAnAircraftWithoutSpanAreLoggedOnceAndNeverChosen) {
  g_parkAirportLat = traffictest::kUserLat;
  stand(1, "D", 0.0, 0.0);
  stand(2, "D", 50.0, -3.0);
  stand(3, "far", 20000.0, 40.0);  // 10.8 nm east
  stand(4, "ok", 100.0, 20.0);
  kvo::LiveAircraft& ac = ground(0xAA0001, "DLH1", "A20N", 0.0, GroundPhase::Taxi);
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(collectStandOptions(slot(3, 10), ac, false), nullptr);
    EXPECT_EQ(collectStandOptions(slot(3, 10), ac, false)->name, "ok");
    parkStandsChanged();
  }
  ac.halfSpanNm = 0.0;
  EXPECT_EQ(collectStandOptions(slot(3, 10), ac, false), nullptr);
  EXPECT_EQ(findStandForArrival(kvo::LatLon{ac.position.lat, ac.position.lon}, ac, kvo::kStandReachNm, true), nullptr);
  const std::string text = log();
  for (const char* line : {"stand name 'D' is used by more than one stand", "stand D has the radius 0.0 m",
                           "stand D has the radius -3.0 m", "stand far lies more than 5 nm from EDXX",
                           "no wing span known for type 'A20N'"}) {
    const auto first = text.find(line);
    EXPECT_NE(first, std::string::npos) << line << "\n" << text;
    EXPECT_EQ(text.find(line, first + 1), std::string::npos) << "logged once: " << line;
  }
}

TEST_F(StandTest, ManyBadStandsGiveAFewLinesAndACount) {
  // A file's stands come in at once; 12 of them lie 10.8 nm away.
  for (std::uint32_t id = 1; id <= 13; ++id) {
    kvo::Stand s;
    s.id = id;
    s.name = fmt::format("S{}", id);
    s.latitude = traffictest::kUserLat;
    s.longitude = traffictest::kUserLon + (id == 13 ? 0.0 : 20000.0 * standtest::kMLon);
    s.radius = 20.0 * standtest::kM;
    g_parkStands.push_back(s);
  }
  parkStandsChanged();
  parkStandsChanged();  // a later change of the same list adds nothing
  const std::string text = log();
  EXPECT_EQ(countOf(text, "lies more than 5 nm from EDXX: it is not offered"), kvo::kProblemLinesLogged) << text;
  EXPECT_EQ(countOf(text, "7 more stands more than 5 nm from EDXX: not offered"), 1u) << text;
  EXPECT_EQ(countOf(text, "more stand"), 1u) << text;
}

}  // namespace
