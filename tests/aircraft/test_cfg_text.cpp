#include <gtest/gtest.h>

#include <random>

#include "aircraft/cfg_text.h"
#include "cfg_text_input.h"
#include "data_file_input.h"
#include "support/test_support.h"

namespace {

// "[FLTSIM.0]\r\ntitle = "Aérospatiale Ä"\r\n" in each character set.
const std::string kUtf8 = "[FLTSIM.0]\r\ntitle = \"A\xC3\xA9rospatiale \xC3\x84\"\r\n";

std::string utf16(const std::string& ascii1252, bool bigEndian, bool mark) {
  std::string out = mark ? (bigEndian ? std::string("\xFE\xFF") : std::string("\xFF\xFE")) : std::string();
  for (char c : ascii1252) {
    const char16_t u = static_cast<unsigned char>(c);  // Latin-1 letters are the same code points
    const char hi = static_cast<char>(u >> 8);
    const char lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

struct EncodingCase {
  const char* name;
  std::string bytes;
  TextEncoding encoding;
};

TEST(DecodeText, EveryCharacterSetOfAircraftCfgGivesTheSameText) {
  const std::string latin1 = "[FLTSIM.0]\r\ntitle = \"A\xE9rospatiale \xC4\"\r\n";
  const std::vector<EncodingCase> cases{
      {"UTF-8", kUtf8, TextEncoding::Utf8},
      {"UTF-8 with mark", "\xEF\xBB\xBF" + kUtf8, TextEncoding::Utf8Bom},
      {"UTF-16 LE", utf16(latin1, false, true), TextEncoding::Utf16Le},
      {"UTF-16 BE", utf16(latin1, true, true), TextEncoding::Utf16Be},
      {"UTF-16 LE without mark", utf16(latin1, false, false), TextEncoding::Utf16Le},
      {"Windows-1252", latin1, TextEncoding::Windows1252},
  };
  for (const EncodingCase& c : cases) {
    SCOPED_TRACE(c.name);
    const DecodedText d = decodeTextBytes(c.bytes);
    EXPECT_EQ(d.encoding, c.encoding);
    EXPECT_EQ(d.text, kUtf8);
    EXPECT_EQ(parseCfg(d.text).section("FLTSIM.0")->get("title"), "A\xC3\xA9rospatiale \xC3\x84");
  }
}

TEST(DecodeText, BinaryContentIsRefused) {
  std::mt19937 engine(42);
  std::string garbage(4096, '\0');
  for (char& c : garbage) c = static_cast<char>(engine() & 0xFF);
  EXPECT_THROW(decodeTextBytes(garbage), TextDecodeError);
  EXPECT_THROW(decodeTextBytes(std::string("[FLTSIM.0]\ntitle=a\0b\n", 21)), TextDecodeError);
  EXPECT_THROW(decodeTextBytes(std::string("\xFF\xFE\x00\xD8", 4)), TextDecodeError);  // a lone surrogate
  EXPECT_THROW(decodeTextBytes("\xEF\xBB\xBF\xC3"), TextDecodeError);  // cut UTF-8 after a mark
  // Too short, or too few zero bytes in every other place (60 %), to be UTF-16 without a mark:
  // the zero bytes are binary content.
  EXPECT_THROW(decodeTextBytes(std::string("A\0", 2)), TextDecodeError);
  EXPECT_THROW(decodeTextBytes(std::string("A\0B\0C\0D\0E\0F\0GHIJKLMN", 20)), TextDecodeError);
  // A few control characters in a long text are no binary content: at most one in 200 bytes.
  std::string text(1800, 'x');
  for (int i = 0; i < 9; ++i) text[static_cast<std::size_t>(i) * 200] = '\x01';
  EXPECT_NO_THROW(decodeTextBytes(text));
  EXPECT_THROW(decodeTextBytes(text.substr(0, 1790)), TextDecodeError);
}

TEST(DecodeText, Utf8IsCheckedStrictly) {
  EXPECT_TRUE(isValidUtf8("plain \xE2\x82\xAC \xF0\x9F\x98\x80"));
  for (const char* bad :
       {"\xC0\xAF", "\xE0\x80\xAF", "\xE0\x82\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80", "\xE2\x82"}) {
    EXPECT_FALSE(isValidUtf8(bad)) << bad;
  }
}

TEST(ParseCfg, SectionsKeysQuotesAndComments) {
  const CfgFile f = parseCfg(
      "title = before any section\n"
      "[fltsim.0]\n"
      "Title = \"Name ; with semicolon\" ; trailing comment\n"
      "icao_airline=DLH// comment\n"
      "texture = KLM/PH-BXA\n"
      "atc_id = \"\" ;\n"
      "ui_variation = \"unclosed\n"
      "no equals sign here\n"
      "TITLE = second title\n"
      "  [ General ]  \n"
      "icao_type_designator = \"A20N\"\n"
      "[FLTSIM.7]\n"
      "url = \"http://example\"\n");
  ASSERT_EQ(f.sections.size(), 3u);
  const CfgSection* s = f.section("FLTSIM.0");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->get("title"), "Name ; with semicolon");
  EXPECT_EQ(s->get("icao_airline"), "DLH");
  EXPECT_EQ(s->get("texture"), "KLM/PH-BXA");  // one slash starts no comment
  ASSERT_NE(s->find("atc_id"), nullptr);
  EXPECT_EQ(s->get("atc_id"), "");
  EXPECT_EQ(s->get("ui_variation"), "unclosed");
  ASSERT_EQ(f.notes.size(), 1u);  // the second title
  EXPECT_EQ(f.section("GENERAL")->get("icao_type_designator"), "A20N");
  EXPECT_EQ(f.section("FLTSIM.7")->get("url"), "http://example");
}

TEST(ParseCfg, FltsimIndex) {
  struct Case {
    const char* name;
    int index;
  };
  for (const Case& c : {Case{"FLTSIM.0", 0}, Case{"FLTSIM.12", 12}, Case{"FLTSIM.999999", 999999},
                        Case{"FLTSIM.1234567", -1}, Case{"FLTSIM.", -1}, Case{"FLTSIM.1A", -1},
                        Case{"FLTSIM", -1}, Case{"FLTSIM.-1", -1}, Case{"GENERAL", -1}}) {
    EXPECT_EQ(fltsimIndex(c.name), c.index) << c.name;
  }
}

// Every input the fuzzers of the aircraft data keep (aircraft.cfg in each encoding, the data
// files' decryption and their content), replayed through the fuzzers' own drivers.
TEST(AircraftDataFuzzInputs, ReplayWithoutABrokenPromise) {
  using Driver = bool (*)(std::string_view);
  const std::pair<const char*, Driver> targets[] = {{"cfg_text", fuzzinput::scanAircraftCfgInput},
                                                    {"data_decrypt", fuzzinput::decryptDataInput},
                                                    {"data_xml", fuzzinput::parseDataInput}};
  for (const auto& [target, driver] : targets) {
    for (const auto& [file, data] : coretest::fuzzInputs(target)) EXPECT_TRUE(driver(data)) << file;
  }
}

}  // namespace
