#include "core/utf.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include "platform/win32/win32.h"

namespace win32 {

namespace {

constexpr const char* kTooLong = "Input string too long: size_t-length doesn't fit into int.";

template <typename Text>
int checkedLength(const Text& text) {
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw std::overflow_error(kTooLong);
  }
  return static_cast<int>(text.size());
}

std::u16string multiByteToWide(UINT codePage, DWORD flags, std::string_view text) {
  if (text.empty()) return {};
  const int length = checkedLength(text);
  const int needed = MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
  if (needed == 0) {
    throw Utf8ConversionException(
        "Cannot get result string length when converting from UTF-8 to UTF-16 (MultiByteToWideChar failed).",
        GetLastError(), Utf8ConversionException::ConversionType::FromUtf8);
  }
  std::u16string result(static_cast<std::size_t>(needed), u'\0');
  const int converted = MultiByteToWideChar(codePage, flags, text.data(), length, result.data(), needed);
  if (converted == 0) {
    throw Utf8ConversionException(
        "Cannot convert from UTF-8 to UTF-16 (MultiByteToWideChar failed).", GetLastError(),
        Utf8ConversionException::ConversionType::FromUtf8);
  }
  result.resize(static_cast<std::size_t>(converted));
  return result;
}

}  // namespace

std::u16string utf8ToWide(std::string_view utf8) { return multiByteToWide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8); }

std::string wideToUtf8(std::u16string_view utf16) {
  if (utf16.empty()) return {};
  const int length = checkedLength(utf16);
  const int needed =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, utf16.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed == 0) {
    throw Utf8ConversionException(
        "Cannot get result string length when converting from UTF-16 to UTF-8 (WideCharToMultiByte failed).",
        GetLastError(), Utf8ConversionException::ConversionType::FromUtf16);
  }
  std::string result(static_cast<std::size_t>(needed), '\0');
  const int converted = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, utf16.data(), length, result.data(),
                                            needed, nullptr, nullptr);
  if (converted == 0) {
    throw Utf8ConversionException(
        "Cannot convert from UTF-16 to UTF-8 (WideCharToMultiByte failed).", GetLastError(),
        Utf8ConversionException::ConversionType::FromUtf16);
  }
  result.resize(static_cast<std::size_t>(converted));
  return result;
}

std::string ansiToUtf8(std::string_view ansi) {
  // Every byte has a meaning in 1252 (the five unassigned ones map to their C1 controls), so
  // this conversion cannot fail on the text itself.
  return wideToUtf8(multiByteToWide(CP_1252, 0, ansi));
}

}  // namespace win32

namespace kvo {

namespace {

// Length of the valid UTF-8 sequence at text[i] (1..4), or 0 when the byte there does not
// start one; `codePoint` gets its value.
std::size_t sequenceAt(std::string_view text, std::size_t i, char32_t& codePoint) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  std::size_t length = 0;
  char32_t value = 0;
  char32_t lowest = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, lowest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, lowest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, lowest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  codePoint = value;
  return length;
}

struct CodeRange {
  char32_t first;
  char32_t last;
};

// The format characters (Unicode category Cf): they show nothing, or change how the text around
// them is shown (reordering, joining, hyphenation); the tag characters among them are refused with
// their whole block below. Sorted, for the search below.
constexpr CodeRange kFormatCharacters[] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
    {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x202A, 0x202E},
    {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},
};

// Other characters that show as nothing or as whatever a font makes of them: the line and
// paragraph separators (they break a line as a line feed does), the Hangul fillers, private use,
// the variation selectors and the whole tag block.
constexpr CodeRange kOtherInvisible[] = {
    {0x115F, 0x1160}, {0x2028, 0x2029}, {0x3164, 0x3164},   {0xE000, 0xF8FF},    {0xFE00, 0xFE0F},
    {0xFFA0, 0xFFA0}, {0xE0000, 0xE007F}, {0xE0100, 0xE01EF}, {0xF0000, 0x10FFFF},
};

template <std::size_t N>
constexpr bool sortedRanges(const CodeRange (&ranges)[N]) {
  for (std::size_t i = 0; i < N; ++i) {
    if (ranges[i].first > ranges[i].last || (i > 0 && ranges[i - 1].last >= ranges[i].first)) return false;
  }
  return true;
}
static_assert(sortedRanges(kFormatCharacters) && sortedRanges(kOtherInvisible));

template <std::size_t N>
bool inRanges(char32_t c, const CodeRange (&ranges)[N]) {
  const CodeRange* r =
      std::lower_bound(std::begin(ranges), std::end(ranges), c, [](const CodeRange& x, char32_t v) { return x.last < v; });
  return r != std::end(ranges) && r->first <= c;
}

// Characters refused (and cleaned to a blank) as control characters are: C0, DEL and C1, and
// every character that does nothing visible or reorders what is around them, which would make an
// id read differently from what it holds. The joiners U+200C and U+200D are kept: names in some
// scripts need them, and emoji sequences are built with them.
bool isControlOrInvisible(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  if (c < 0xAD || c == 0x200C || c == 0x200D) return false;
  return inRanges(c, kFormatCharacters) || inRanges(c, kOtherInvisible);
}

// Noncharacters (U+FDD0-U+FDEF and the last two code points of every plane) are no characters at
// all (XML does not allow U+FFFE and U+FFFF either): refused, and cleaned as an invalid byte is.
bool isNonCharacter(char32_t c) { return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE; }

}  // namespace

bool isCleanText(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const std::size_t length = sequenceAt(text, i, c);
    if (length == 0 || isControlOrInvisible(c) || isNonCharacter(c)) return false;
    i += length;
  }
  return true;
}

std::string cleanText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const std::size_t length = sequenceAt(text, i, c);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (isNonCharacter(c)) {
      out += "\xEF\xBF\xBD";
    } else if (isControlOrInvisible(c)) {
      out += ' ';
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

std::string escapeControls(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const std::size_t length = sequenceAt(text, i, c);
    if (length != 0 && !isControlOrInvisible(c) && !isNonCharacter(c)) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    // An invalid byte, or each byte of a control character or noncharacter.
    const std::size_t bytes = length == 0 ? 1 : length;
    for (std::size_t k = 0; k < bytes; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    }
    i += bytes;
  }
  return out;
}

}  // namespace kvo
