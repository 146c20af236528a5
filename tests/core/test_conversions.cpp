// UTF conversions, Winsock error texts and the aircraft filters.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "core/filters.h"
#include "core/utf.h"
#include "core/wsa_error.h"

namespace {

using win32::Utf8ConversionException;

TEST(Utf, RoundTrip) {
  const std::string samples[] = {"", "EGLL", "Z\xC3\xBCrich", "\xE2\x9C\x88 ok", "\xF0\x9D\x84\x9E clef",
                                 std::string("a\0b", 3)};
  for (const auto& s : samples) {
    const std::u16string wide = win32::utf8ToWide(s);
    EXPECT_EQ(win32::wideToUtf8(wide), s);
  }
  EXPECT_EQ(win32::utf8ToWide("Z\xC3\xBCrich"), u"Z\u00FCrich");
  EXPECT_EQ(win32::utf8ToWide("\xF0\x9D\x84\x9E"), u"\U0001D11E");  // a surrogate pair
  EXPECT_EQ(win32::utf8ToWide(std::string("a\0b", 3)).size(), 3u);  // embedded NUL kept
}

TEST(Utf, InvalidUtf8Throws) {
  const std::string bad[] = {"\xC3\x28", "\xFF", "abc\xE2\x82", "\xED\xA0\x80" /* encoded surrogate */};
  for (const auto& s : bad) {
    try {
      win32::utf8ToWide(s);
      ADD_FAILURE() << "no exception for invalid UTF-8";
    } catch (const Utf8ConversionException& e) {
      EXPECT_EQ(e.errorCode(), 1113u);  // ERROR_NO_UNICODE_TRANSLATION
      EXPECT_EQ(e.conversionType(), Utf8ConversionException::ConversionType::FromUtf8);
      EXPECT_NE(std::string(e.what()).find("UTF-8"), std::string::npos);
    }
  }
}

// The one rule for outside text, and the two ways of making text safe that are not refusals.
TEST(Utf, CleanTextRule) {
  struct Case {
    std::string text;
    bool clean;
    std::string cleaned;
    std::string escaped;
  };
  const Case cases[] = {
      {"", true, "", ""},
      {"DLH7AB Z\xC3\xBCrich \xE2\x9C\x88 \xF0\x9D\x84\x9E", true, "DLH7AB Z\xC3\xBCrich \xE2\x9C\x88 \xF0\x9D\x84\x9E",
       "DLH7AB Z\xC3\xBCrich \xE2\x9C\x88 \xF0\x9D\x84\x9E"},
      {"AAL7\xFF", false, "AAL7\xEF\xBF\xBD", "AAL7\\xFF"},
      {std::string("DLH\0X1", 6), false, "DLH X1", "DLH\\x00X1"},
      {"A\n===> parks", false, "A ===> parks", "A\\x0A===> parks"},
      {"a\tb\x7F", false, "a b ", "a\\x09b\\x7F"},
      {"c1\xC2\x85", false, "c1 ", "c1\\xC2\\x85"},                        // C1 control (NEL)
      {"\xC0\xAF", false, "\xEF\xBF\xBD\xEF\xBF\xBD", "\\xC0\\xAF"},  // overlong '/'
      {"\xED\xA0\x80", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "\\xED\\xA0\\x80"},  // surrogate
      {"\xF4\x90\x80\x80", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",
       "\\xF4\\x90\\x80\\x80"},                                            // above U+10FFFF
      {"cut\xE2\x82", false, "cut\xEF\xBF\xBD\xEF\xBF\xBD", "cut\\xE2\\x82"},
      // Noncharacters, invisible and reordering characters, and their clean neighbours.
      {"DLH\xEF\xBF\xBE" "1", false, "DLH\xEF\xBF\xBD" "1", "DLH\\xEF\\xBF\\xBE1"},  // U+FFFE
      {"\xEF\xBF\xBF", false, "\xEF\xBF\xBD", "\\xEF\\xBF\\xBF"},                    // U+FFFF
      {"Q016\xE2\x80\xAE", false, "Q016 ", "Q016\\xE2\\x80\\xAE"},                  // U+202E
      {"\xE2\x80\xAA\xE2\x80\xA8\xE2\x80\xA9", false, "   ", "\\xE2\\x80\\xAA\\xE2\\x80\\xA8\\xE2\\x80\\xA9"},
      {"\xE2\x81\xA6\xE2\x81\xA9\xEF\xBB\xBF", false, "   ", "\\xE2\\x81\\xA6\\xE2\\x81\\xA9\\xEF\\xBB\\xBF"},
      {"\xD8\x9C\xE2\x80\x8E\xE2\x80\x8F", false, "   ", "\\xD8\\x9C\\xE2\\x80\\x8E\\xE2\\x80\\x8F"},
      {"\xE2\x80\x8D\xE2\x80\xA7\xE2\x80\xAF\xE2\x80\x8C\xEF\xBB\xBE\xEF\xBF\xBD\xD8\x9B", true,
       "\xE2\x80\x8D\xE2\x80\xA7\xE2\x80\xAF\xE2\x80\x8C\xEF\xBB\xBE\xEF\xBF\xBD\xD8\x9B",
       "\xE2\x80\x8D\xE2\x80\xA7\xE2\x80\xAF\xE2\x80\x8C\xEF\xBB\xBE\xEF\xBF\xBD\xD8\x9B"},
      // Invisible characters: U+200B shows "D\u200bX00" as "DX00".
      {"D\xE2\x80\x8BX00", false, "D X00", "D\\xE2\\x80\\x8BX00"},
      // U+2060, U+00AD, U+180E, U+2061, U+206A, U+FFF9
      {"\xE2\x81\xA0\xC2\xAD\xE1\xA0\x8E\xE2\x81\xA1\xE2\x81\xAA\xEF\xBF\xB9", false, "      ",
       "\\xE2\\x81\\xA0\\xC2\\xAD\\xE1\\xA0\\x8E\\xE2\\x81\\xA1\\xE2\\x81\\xAA\\xEF\\xBF\\xB9"},
      // U+FE0F, U+3164, U+E0041 (a tag), U+E000 (private use)
      {"\xEF\xB8\x8F\xE3\x85\xA4\xF3\xA0\x81\x81\xEE\x80\x80", false, "    ",
       "\\xEF\\xB8\\x8F\\xE3\\x85\\xA4\\xF3\\xA0\\x81\\x81\\xEE\\x80\\x80"},
      // U+0600, U+115F, U+FFA0, U+1D173, U+E0100, U+10FFFD (private use, plane 16)
      {"\xD8\x80\xE1\x85\x9F\xEF\xBE\xA0\xF0\x9D\x85\xB3\xF3\xA0\x84\x80\xF4\x8F\xBF\xBD", false, "      ",
       "\\xD8\\x80\\xE1\\x85\\x9F\\xEF\\xBE\\xA0\\xF0\\x9D\\x85\\xB3\\xF3\\xA0\\x84\\x80\\xF4\\x8F\\xBF\\xBD"},
      // Noncharacters U+FDD0, U+FDEF, U+1FFFE, U+10FFFF
      {"\xEF\xB7\x90\xEF\xB7\xAF\xF0\x9F\xBF\xBE\xF4\x8F\xBF\xBF", false,
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "\\xEF\\xB7\\x90\\xEF\\xB7\\xAF\\xF0\\x9F\\xBF\\xBE\\xF4\\x8F\\xBF\\xBF"},
      // Their visible neighbours: U+00AC, U+00AE, U+FDCF, U+FDF0, U+F900, U+FE10, U+1FFFD
      {"\xC2\xAC\xC2\xAE\xEF\xB7\x8F\xEF\xB7\xB0\xEF\xA4\x80\xEF\xB8\x90\xF0\x9F\xBF\xBD", true,
       "\xC2\xAC\xC2\xAE\xEF\xB7\x8F\xEF\xB7\xB0\xEF\xA4\x80\xEF\xB8\x90\xF0\x9F\xBF\xBD",
       "\xC2\xAC\xC2\xAE\xEF\xB7\x8F\xEF\xB7\xB0\xEF\xA4\x80\xEF\xB8\x90\xF0\x9F\xBF\xBD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kvo::isCleanText(c.text), c.clean) << c.escaped;
    EXPECT_EQ(kvo::cleanText(c.text), c.cleaned) << c.escaped;
    EXPECT_TRUE(kvo::isCleanText(kvo::cleanText(c.text))) << c.escaped;
    EXPECT_EQ(kvo::escapeControls(c.text), c.escaped);
  }

  // Every default-ignorable code point, assigned or not, is refused but the two joiners; the code
  // points just outside each range are not (U+FFF9 and U+DFFFF are refused for other reasons).
  const auto utf8 = [](char32_t c) {
    if (c < 0x80) return std::string(1, static_cast<char>(c));
    const int extra = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    std::string out(1, static_cast<char>((0xFF << (7 - extra)) | (c >> (6 * extra))));
    for (int k = extra - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
    return out;
  };
  const std::pair<char32_t, char32_t> defaultIgnorable[] = {
      {0x00AD, 0x00AD},   {0x034F, 0x034F},   {0x061C, 0x061C}, {0x115F, 0x1160}, {0x17B4, 0x17B5},
      {0x180B, 0x180F},   {0x200B, 0x200F},   {0x202A, 0x202E}, {0x2060, 0x206F}, {0x3164, 0x3164},
      {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},   {0xFFA0, 0xFFA0}, {0xFFF0, 0xFFF8}, {0x1BCA0, 0x1BCA3},
      {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
  };
  for (const auto& [first, last] : defaultIgnorable) {
    for (char32_t c = first; c <= last; ++c) {
      EXPECT_EQ(kvo::isCleanText("A" + utf8(c) + "1"), c == 0x200C || c == 0x200D) << std::hex << "U+" << +c;
    }
  }
  const char32_t cleanNeighbours[] = {0x00AC,  0x00AE,  0x034E,  0x0350,  0x061B,  0x061D,  0x115E,  0x1161,
                                      0x17B3,  0x17B6,  0x180A,  0x1810,  0x200A,  0x2010,  0x2027,  0x202F,
                                      0x205F,  0x2070,  0x3163,  0x3165,  0xFDFF,  0xFE10,  0xFEFE,  0xFF01,
                                      0xFF9F,  0xFFA1,  0xFFEF,  0xFFFC,  0x16FE3, 0x16FE5, 0x1BC9F, 0x1BCA4,
                                      0x1D172, 0x1D17B, 0xDFFFD, 0xE1000};
  EXPECT_FALSE(kvo::isCleanText(utf8(0x16FE4)));  // the Khitan filler, as the Hangul ones
  for (const char32_t c : cleanNeighbours) EXPECT_TRUE(kvo::isCleanText(utf8(c))) << std::hex << "U+" << +c;
}

TEST(Utf, LoneSurrogateThrows) {
  const std::u16string bad[] = {std::u16string(1, u'\xD800'), u"a" + std::u16string(1, u'\xDC00') + u"b"};
  for (const auto& s : bad) {
    try {
      win32::wideToUtf8(s);
      ADD_FAILURE() << "no exception for a lone surrogate";
    } catch (const Utf8ConversionException& e) {
      EXPECT_EQ(e.errorCode(), 1113u);
      EXPECT_EQ(e.conversionType(), Utf8ConversionException::ConversionType::FromUtf16);
    }
  }
}

TEST(Utf, AnsiToUtf8) {
  EXPECT_EQ(win32::ansiToUtf8("abc"), "abc");
  EXPECT_EQ(win32::ansiToUtf8("\x80"), "\xE2\x82\xAC");  // euro sign
  EXPECT_EQ(win32::ansiToUtf8("Caf\xE9"), "Caf\xC3\xA9");
  EXPECT_EQ(win32::ansiToUtf8(""), "");
}

TEST(WsaError, Texts) {
  const std::pair<int, const char*> cases[] = {
      {10004, "10004 Interrupted system call"}, {10009, "10009 Bad file number"},
      {10013, "10013 Permission denied"},       {10048, "10048 Address already in use"},
      {10054, "10054 Connection reset by peer"}, {10060, "10060 Connection timed out"},
      {10061, "10061 Connection refused"},      {10093, "10093 Successful WSAStartup not yet performed"},
      {11001, "11001 Host not found"},          {0, "0 Unknown error"},
      {12345, "12345 Unknown error"},           {-1, "-1 Unknown error"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(wsaErrorText(code), text);
}

TEST(Filters, SpecialTypes) {
  for (const char* t : {"BALL", "EMER", "GLID", "GRND", "PARA", "SERV", "SHIP", "VENT"}) {
    EXPECT_TRUE(isSpecialType(t)) << t;
  }
  for (const char* t : {"", "B738", "ball", "GLIDER", "A320"}) EXPECT_FALSE(isSpecialType(t)) << t;
}

TEST(Filters, ShowableAircraft) {
  struct Case {
    const char* type;
    const char* category;
    bool showable;
  };
  const Case cases[] = {
      {"", "A3", false},      {"", "", false},          {"B738", "", true},      {"B738", "null", true},
      {"GRND", "", true},     // no category: the type is not looked at
      {"GRND", "null", true}, {"B738", "B1", false},    {"B738", "B2", false},   {"B738", "B4", false},
      {"B738", "C1", false},  {"B738", "C2", false},    {"B738", "A3", true},    {"GLID", "A1", false},
      {"B738", "B3", true},   {"EC35", "A7", true},     {"VENT", "C3", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isShowableAircraft(c.type, c.category), c.showable) << c.type << "/" << c.category;
  }
}

}  // namespace
