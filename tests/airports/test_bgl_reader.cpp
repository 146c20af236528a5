// The BGL reader against files made by tools/bgl/bgl_writer.h from the fact sheet of the format:
// its worked examples, every record variant, and files damaged in every way the reader must
// survive with a report.
#include <gtest/gtest.h>

#include "airports/bgl_reader.h"
#include "bgl/bgl_writer.h"
#include "bgl_input.h"
#include "support/test_support.h"

namespace {

namespace bgl = kvo::bgl;

bglw::Parking gate(std::uint16_t number, double lat, double lon) {
  bglw::Parking p;
  p.number = number;
  p.lat = lat;
  p.lon = lon;
  p.heading = 63.5f;
  return p;
}

bglw::Airport sampleAirport(std::uint16_t recordId = 0x0056, std::uint16_t parkingId = 0x00E7) {
  bglw::Airport a;
  a.icao = "LOWI";
  a.name = "Innsbruck Kranebitten";
  a.lat = 47.2602;
  a.lon = 11.344;
  a.altitudeMm = 581000;
  a.recordId = recordId;
  a.parkingId = parkingId;
  a.parkings = {gate(1, 47.2613, 11.3452), gate(2, 47.2613, 11.3457)};
  a.parkings[0].airlines = {"AUA", "QFAX"};
  a.parkings[1].name = 13;  // GATE_B
  a.parkings[1].suffix = 14;  // C
  a.parkings[1].type = 5;
  a.helipads.resize(2);
  a.helipads[0].lat = 47.262;
  a.helipads[0].lon = 11.334;
  a.helipads[1] = a.helipads[0];
  a.helipads[1].colourField = false;
  a.helipads[1].length = 30.0f;
  return a;
}

TEST(BglReader, WorkedExamplesOfTheFormat) {
  // Coordinates: lat 50.0333, lon 8.5706 <-> x 0x19248B0C, y 0x071AEDCE.
  EXPECT_EQ(bglw::encodeLongitude(8.5706), 421825292);
  EXPECT_EQ(bglw::encodeLatitude(50.0333), 119205326);
  EXPECT_NEAR(bgl::longitudeOf(0x19248B0C), 8.5706, 5e-7);
  EXPECT_NEAR(bgl::latitudeOf(0x071AEDCE), 50.0333, 4e-7);
  EXPECT_DOUBLE_EQ(bgl::longitudeOf(0), -180.0);
  EXPECT_DOUBLE_EQ(bgl::latitudeOf(0), 90.0);
  // Idents: EDDF -> 900199 -> 0x01B78CE0; digits, short codes; no code in zero or the unused digit 1.
  EXPECT_EQ(bglw::packIdent("EDDF"), 0x01B78CE0u);
  for (const char* code : {"EDDF", "LOWI", "K2", "Z", "9A9", "EGLLX"}) {
    EXPECT_EQ(bgl::decodeIdent(bglw::packIdent(code)), code);
  }
  EXPECT_EQ(bgl::decodeIdent(0), "");
  EXPECT_EQ(bgl::decodeIdent(1u << 5), "");
  EXPECT_EQ(bgl::decodeIdent(((12u * 38 + 0) * 38 + 12) << 5), "");  // a blank inside: "A A"
  // Parking flags: GATE_A, pushback both, GATE_HEAVY, number 12, two airline codes.
  bglw::Parking p = gate(12, 0, 0);
  p.name = 12;
  p.pushback = 3;
  p.type = 10;
  p.airlines = {"DLH", "LH"};
  EXPECT_EQ(bglw::parkingFlags(p), 0x0200CACCu);
}

// Every airport and parking record variant reads the same airport.
TEST(BglReader, ReadsEveryRecordVariant) {
  struct Variant {
    std::uint16_t airport, parking;
  };
  for (Variant v : {Variant{0x0056, 0x00E7}, Variant{0x003C, 0x003D}, Variant{0x00AB, 0x00AD},
                    Variant{0x003C, 0x001B}, Variant{0x0056, 0x003D}, Variant{0x00AB, 0x00E7}}) {
    SCOPED_TRACE(testing::Message() << std::hex << v.airport << "/" << v.parking);
    bglw::Airport spec = sampleAirport(v.airport, v.parking);
    spec.deleteFlags = 0x0090;
    const bgl::ReadResult r = bgl::readBgl(bglw::bglFile({spec}));
    ASSERT_TRUE(r.scenery);
    EXPECT_TRUE(r.problems.empty()) << r.problems.front();
    ASSERT_EQ(r.airports.size(), 1u);
    const bgl::Airport& a = r.airports[0];
    EXPECT_EQ(a.icao, "LOWI");
    EXPECT_EQ(a.name, "Innsbruck Kranebitten");
    EXPECT_NEAR(a.latitude, 47.2602, 1e-6);
    EXPECT_NEAR(a.altitudeMetres, 581.0, 1e-9);
    EXPECT_TRUE(a.hasDelete);
    EXPECT_EQ(a.deleteFlags, 0x0090);
    ASSERT_EQ(a.parkings.size(), 2u);
    EXPECT_EQ(a.parkings[0].number, 1);
    EXPECT_EQ(a.parkings[0].nameCode, 10);
    EXPECT_NEAR(a.parkings[0].longitude, 11.3452, 1e-6);
    EXPECT_FLOAT_EQ(a.parkings[0].heading, 63.5f);
    EXPECT_FLOAT_EQ(a.parkings[0].radius, 18.0f);
    EXPECT_EQ(a.parkings[1].nameCode, 13);
    EXPECT_EQ(a.parkings[1].type, 5);
    EXPECT_EQ(a.parkings[1].suffix, v.parking == 0x00E7 ? 14 : 0);  // only MSFS entries carry it
    ASSERT_EQ(a.helipads.size(), 2u);  // with and without the colour field
    EXPECT_NEAR(a.helipads[1].latitude, 47.262, 1e-6);
    EXPECT_FLOAT_EQ(a.helipads[1].length, 30.0f);
  }
}

std::string withBytes(std::string file, std::size_t at, std::uint32_t value) {
  bglw::set32(file, at, value);
  return file;
}

// Damaged files: each gives its clear problem line and nothing made up.
TEST(BglReader, DamagedFilesAreReportedNotGuessed) {
  bglw::Layout at;
  const std::string good = bglw::bglFile({bglw::airportRecord(sampleAirport())}, {0x65}, &at);
  const std::size_t record = at.records[0];
  const std::size_t parking = record + 0x44 + 6 + 22;  // after the fixed part and the name record
  bglw::Airport twice = sampleAirport();
  std::vector<std::string> repeated(bgl::kMaxIdentRepeats, bglw::airportRecord(twice));
  struct Case {
    const char* what;
    std::string file;
    std::string problem;  // a part of the one expected problem line; empty: none
    std::size_t airports;
  };
  const Case cases[] = {
      {"sections beyond the file", withBytes(good, 0x14, 0x10000000), "section table (268435456 sections)", 0},
      {"subsection table outside", withBytes(good, 0x38 + 0x0C, 0xFFFFFF00), "lies outside the file", 0},
      {"data block outside", withBytes(good, at.subsectionTable + 12, 0x7FFFFFFF), "lies outside the file", 0},
      {"zero-length record", withBytes(good, record + 2, 0), "has a length of 0", 0},
      {"record past its block", withBytes(good, record + 2, 0x100000), "runs past its data block", 0},
      {"parking count too high", withBytes(good, parking + 6, 0xFFFF0007), "does not match its size", 0},
      {"ident no code", withBytes(good, record + 0x28, 1u << 5), "is no airport code", 0},
      {"one ident too often", bglw::bglFile(repeated), "occurs 5 times", 0},
      {"unknown section kept apart", good, "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const bgl::ReadResult r = bgl::readBgl(c.file);
    EXPECT_TRUE(r.scenery);
    EXPECT_EQ(r.airports.size(), c.airports);
    if (c.problem.empty()) {
      EXPECT_TRUE(r.problems.empty());
    } else {
      ASSERT_EQ(r.problems.size(), 1u);
      EXPECT_NE(r.problems[0].find(c.problem), std::string::npos) << r.problems[0];
    }
  }
  const bgl::ReadResult unknown = bgl::readBgl(good);
  ASSERT_EQ(unknown.notes.size(), 1u);
  EXPECT_EQ(unknown.notes[0], "sections of unknown types passed over: 0x65");
  EXPECT_FALSE(bgl::readBgl(withBytes(good, 0, 0x19920202)).scenery);  // not a scenery BGL: no report
  EXPECT_TRUE(bgl::readBgl(withBytes(good, 0, 0x19920202)).problems.empty());
}

// Cut anywhere: never more than was in the file, and a cut inside the data is always reported.
TEST(BglReader, FileCutAnywhere) {
  const std::string good = bglw::bglFile({bglw::airportRecord(sampleAirport())});
  for (std::size_t n = 0; n < good.size(); ++n) {
    const bgl::ReadResult r = bgl::readBgl(std::string_view(good).substr(0, n));
    EXPECT_TRUE(r.airports.empty()) << n;
    EXPECT_EQ(r.problems.empty(), n < bgl::kHeaderBytes) << n;
  }
}

// Every input the BGL fuzzer keeps, replayed through its driver.
TEST(BglReader, FuzzSeedsAndKeptInputsReadWithoutFault) {
  for (const auto& [file, data] : coretest::fuzzInputs("bgl")) EXPECT_TRUE(fuzzinput::readBglInput(data)) << file;
}

}  // namespace
