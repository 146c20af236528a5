// Code-page conversion of the Win32 stand-in: UTF-8 and Windows-1252 against UTF-16.

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/win32.h"

namespace {

// Converts with a size query first, as the program does; nullopt-like empty + error on failure.
std::u16string toWide(UINT codePage, DWORD flags, const std::string& text) {
  const int size = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size == 0) {
    return {};
  }
  std::u16string wide(static_cast<std::size_t>(size), u'\0');
  EXPECT_EQ(MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), wide.data(), size),
            size);
  return wide;
}

std::string toNarrow(UINT codePage, DWORD flags, const std::u16string& text, LPCSTR defaultChar = nullptr,
                     BOOL* usedDefault = nullptr) {
  const int size = WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       defaultChar, usedDefault);
  if (size == 0) {
    return {};
  }
  std::string narrow(static_cast<std::size_t>(size), '\0');
  EXPECT_EQ(WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), narrow.data(), size,
                                defaultChar, usedDefault),
            size);
  return narrow;
}

TEST(CodePage, Utf8RoundTrips) {
  const std::u16string samples[] = {u"KLAX", u"Zürich", u"東京国際空港", u"✈ A320", u"𝄞 clef", std::u16string(u"a\0b", 3)};
  for (const auto& sample : samples) {
    const std::string utf8 = toNarrow(CP_UTF8, WC_ERR_INVALID_CHARS, sample);
    EXPECT_EQ(toWide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8), sample);
  }
  EXPECT_EQ(toNarrow(CP_UTF8, 0, u"é𝄞"), "\xC3\xA9\xF0\x9D\x84\x9E");
  EXPECT_EQ(toWide(CP_UTF8, 0, "\xF0\x9D\x84\x9E"), u"\xD834\xDD1E");
}

TEST(CodePage, NulTerminatedSourceCountsTheNul) {
  WCHAR wide[8];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 8), 4);
  EXPECT_EQ(std::u16string(wide), u"abc");
  char narrow[8];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"é", -1, narrow, 8, nullptr, nullptr), 3);
  EXPECT_STREQ(narrow, "\xC3\xA9");
}

TEST(CodePage, ShortBufferFailsWithInsufficientBuffer) {
  WCHAR wide[3];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcd", 4, wide, 3), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  char narrow[2];
  // One character that needs three bytes does not fit in two.
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"€", 1, narrow, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(CodePage, BadArgumentsAreRefused) {
  WCHAR wide[4];
  struct Case {
    UINT codePage;
    DWORD flags;
    const char* source;
    int sourceLength;
    DWORD error;
  };
  const Case cases[] = {
      {CP_UTF8, 0, "a", 0, ERROR_INVALID_PARAMETER},           // empty source
      {CP_UTF8, 0, nullptr, 1, ERROR_INVALID_PARAMETER},       // no source
      {CP_UTF8, 0, "a", -2, ERROR_INVALID_PARAMETER},          // bad length
      {437, 0, "a", 1, ERROR_INVALID_PARAMETER},               // code page not supported
      {CP_UTF8, 0x01, "a", 1, ERROR_INVALID_FLAGS},            // UTF-8 takes no other flags
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(c.codePage, c.flags, c.source, c.sourceLength, wide, 4), 0);
    EXPECT_EQ(GetLastError(), c.error) << c.codePage << " " << c.flags;
  }
  char narrow[4];
  BOOL used = FALSE;
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, 4, "?", nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, 4, nullptr, &used), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WideCharToMultiByte(CP_1252, WC_ERR_INVALID_CHARS, u"a", 1, narrow, 4, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
}

TEST(CodePage, InvalidUtf8IsAnErrorOrReplaced) {
  struct Case {
    const char* name;
    std::string bytes;
    std::u16string replaced;  // without MB_ERR_INVALID_CHARS: one U+FFFD per bad piece
  };
  const Case cases[] = {
      {"lone continuation", "a\x80z", u"a\uFFFDz"},
      {"cut two-byte", "a\xC3", u"a\uFFFD"},
      {"cut three-byte", "\xE2\x82z", u"\uFFFDz"},
      {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"overlong three-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"invalid lead", "\xFF", u"\uFFFD"},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.bytes.data(), static_cast<int>(c.bytes.size()),
                                  nullptr, 0),
              0)
        << c.name;
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION) << c.name;
    EXPECT_EQ(toWide(CP_UTF8, 0, c.bytes), c.replaced) << c.name;
  }
}

TEST(CodePage, LoneSurrogatesAreAnErrorOrReplaced) {
  const std::u16string cases[] = {u"a\xD800", u"\xDC00z", u"\xDBFF\xDBFF"};
  for (const auto& text : cases) {
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                  nullptr, 0, nullptr, nullptr),
              0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  }
  EXPECT_EQ(toNarrow(CP_UTF8, 0, u"a\xD800z"), "a\xEF\xBF\xBDz");
  EXPECT_EQ(toNarrow(CP_UTF8, 0, u"\xDBFF\xDBFF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(CodePage, Windows1252Table) {
  struct Case {
    unsigned char byte;
    char16_t unit;
  };
  const Case cases[] = {{0x41, u'A'},     {0x80, u'\u20AC'}, {0x82, u'\u201A'}, {0x8A, u'\u0160'},
                        {0x8C, u'\u0152'}, {0x99, u'\u2122'}, {0x9F, u'\u0178'}, {0x81, u'\u0081'},
                        {0x9D, u'\u009D'}, {0xA0, u'\u00A0'}, {0xE9, u'\u00E9'}, {0xFF, u'\u00FF'}};
  for (const auto& c : cases) {
    const std::string byte(1, static_cast<char>(c.byte));
    EXPECT_EQ(toWide(CP_1252, 0, byte), std::u16string(1, c.unit)) << int(c.byte);
    EXPECT_EQ(toNarrow(CP_1252, 0, std::u16string(1, c.unit)), byte) << int(c.byte);
  }
  // Every byte comes back as itself; CP_ACP is the same code page.
  std::string all;
  for (int b = 1; b < 256; ++b) {
    all.push_back(static_cast<char>(b));
  }
  EXPECT_EQ(toNarrow(CP_1252, 0, toWide(CP_1252, 0, all)), all);
  EXPECT_EQ(toWide(CP_ACP, 0, all), toWide(CP_1252, 0, all));
}

TEST(CodePage, Windows1252MarksUnmappableCharacters) {
  BOOL used = TRUE;
  EXPECT_EQ(toNarrow(CP_1252, 0, u"Caf\u00E9", nullptr, &used), "Caf\xE9");
  EXPECT_FALSE(used);
  EXPECT_EQ(toNarrow(CP_1252, 0, u"\u0101\u0080\u6771x", nullptr, &used), "???x");
  EXPECT_TRUE(used);
  EXPECT_EQ(toNarrow(CP_1252, 0, u"\U0001D11E", "#", &used), "#");  // one mark per character
  EXPECT_EQ(toNarrow(CP_1252, 0, u"a\xD800"), "a?");
}

}  // namespace
