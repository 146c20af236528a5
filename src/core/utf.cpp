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

// Characters that show as nothing, or as whatever a font makes of them, or that change how the
// text around them is shown: every default-ignorable code point (assigned or not, so that a later
// Unicode version's additions are refused too) but the joiners U+200C and U+200D, the other format
// characters, the line and paragraph separators (they break a line as a line feed does), the
// fillers and private use. Sorted, for the search below.
constexpr CodeRange kInvisible[] = {
    {0x00AD, 0x00AD},    // soft hyphen
    {0x034F, 0x034F},    // combining grapheme joiner
    {0x0600, 0x0605},    // Arabic number signs (format)
    {0x061C, 0x061C},    // Arabic letter mark
    {0x06DD, 0x06DD},    // format characters
    {0x070F, 0x070F},    // format characters
    {0x0890, 0x0891},    // format characters
    {0x08E2, 0x08E2},    // format characters
    {0x115F, 0x1160},    // Hangul choseong and jungseong fillers
    {0x17B4, 0x17B5},    // Khmer inherent vowels
    {0x180B, 0x180F},    // Mongolian variation selectors and vowel separator
    {0x200B, 0x200B},    // zero width space (the joiners U+200C and U+200D are kept)
    {0x200E, 0x200F},    // directional marks
    {0x2028, 0x2029},    // line and paragraph separators
    {0x202A, 0x202E},    // directional embeddings and overrides
    {0x2060, 0x206F},    // word joiner, invisible operators, directional isolates, deprecated formats
    {0x3164, 0x3164},    // Hangul filler
    {0xE000, 0xF8FF},    // private use
    {0xFE00, 0xFE0F},    // variation selectors
    {0xFEFF, 0xFEFF},    // zero width no-break space
    {0xFFA0, 0xFFA0},    // halfwidth Hangul filler
    {0xFFF0, 0xFFF8},    // unassigned, default-ignorable
    {0xFFF9, 0xFFFB},    // interlinear annotation
    {0x110BD, 0x110BD},  // format characters
    {0x110CD, 0x110CD},  // format characters
    {0x13430, 0x1343F},  // format characters
    {0x16FE4, 0x16FE4},  // Khitan small script filler
    {0x1BCA0, 0x1BCA3},  // shorthand format controls
    {0x1D173, 0x1D17A},  // musical symbol format controls
    {0xE0000, 0xE0FFF},  // tags, variation selectors supplement, code points kept for more
    {0xF0000, 0x10FFFF},  // private use, planes 15 and 16
};

template <std::size_t N>
constexpr bool sortedRanges(const CodeRange (&ranges)[N]) {
  for (std::size_t i = 0; i < N; ++i) {
    if (ranges[i].first > ranges[i].last || (i > 0 && ranges[i - 1].last >= ranges[i].first)) return false;
  }
  return true;
}
static_assert(sortedRanges(kInvisible));

template <std::size_t N>
bool inRanges(char32_t c, const CodeRange (&ranges)[N]) {
  const CodeRange* r =
      std::lower_bound(std::begin(ranges), std::end(ranges), c, [](const CodeRange& x, char32_t v) { return x.last < v; });
  return r != std::end(ranges) && r->first <= c;
}

// Characters refused (and cleaned to a blank) as control characters are: C0, DEL and C1, and
// every invisible or reordering character, which would make an id read differently from what it
// holds. The joiners U+200C and U+200D are kept: names in some scripts need them, and emoji
// sequences are built with them.
bool isControlOrInvisible(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  return c >= 0xAD && inRanges(c, kInvisible);
}

// Noncharacters (U+FDD0-U+FDEF and the last two code points of every plane) are no characters at
// all (XML does not allow U+FFFE and U+FFFF either): refused, and cleaned as an invalid byte is.
bool isNonCharacter(char32_t c) { return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE; }

bool isLineBreak(unsigned char c) { return c == '\n' || c == '\r'; }

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

std::optional<Utf16Order> unmarkedUtf16Order(std::string_view bytes) {
  const std::size_t units = bytes.size() / 2;
  // Per byte order (little, big): units below U+0100 but U+0000, and those that break a line.
  std::size_t latin[2] = {0, 0};
  std::size_t breaks[2] = {0, 0};
  std::size_t breakBytes = 0;  // bytes that would break a line in 8-bit text
  for (std::size_t i = 0; i < units; ++i) {
    const auto first = static_cast<unsigned char>(bytes[2 * i]);
    const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
    breakBytes += (isLineBreak(first) ? 1 : 0) + (isLineBreak(second) ? 1 : 0);
    if (first != 0 && second == 0) {
      ++latin[0];
      breaks[0] += isLineBreak(first) ? 1 : 0;
    } else if (first == 0 && second != 0) {
      ++latin[1];
      breaks[1] += isLineBreak(second) ? 1 : 0;
    }
  }
  for (const Utf16Order order : {Utf16Order::LittleEndian, Utf16Order::BigEndian}) {
    const std::size_t mine = order == Utf16Order::LittleEndian ? 0 : 1;
    if (latin[mine] == 0 || latin[mine] < 4 * latin[1 - mine]) continue;
    // A unit such as U+4E0A holds a line-break byte too, so not every such byte is a break; but in
    // 8-bit text with a stray zero byte hardly any is.
    if (2 * latin[mine] >= units || (breaks[mine] > 0 && 2 * breaks[mine] >= breakBytes)) return order;
  }
  return std::nullopt;
}

std::string utf16LinesToUtf8(std::string_view bytes, Utf16Order order, std::size_t& brokenLines) {
  brokenLines = 0;
  std::string out;
  std::u16string line;
  const auto endLine = [&] {
    try {
      if (line.find(u'\0') == std::u16string::npos) {
        out += win32::wideToUtf8(line);
      } else {
        ++brokenLines;
      }
    } catch (const win32::Utf8ConversionException&) {
      ++brokenLines;  // a lone surrogate
    }
    line.clear();
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    const auto unit = static_cast<char16_t>(order == Utf16Order::LittleEndian ? second << 8 | first : first << 8 | second);
    if (unit == u'\n' || unit == u'\r') {
      endLine();
      out += static_cast<char>(unit);
    } else {
      line += unit;
    }
  }
  endLine();
  return out;
}

}  // namespace kvo
