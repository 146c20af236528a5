#include "core/utf.h"

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

// Characters that do nothing visible or that reorder what is around them: C0, DEL and C1
// controls; the bidirectional formatting characters (U+061C, U+200E, U+200F, U+202A-U+202E,
// U+2066-U+2069), which make an id read differently from what it holds; the zero-width no-break
// space U+FEFF; the line and paragraph separators U+2028 and U+2029, which break a line as a line
// feed does.
bool isControl(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  if (c < 0x61C) return false;
  return c == 0x61C || c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
         c == 0xFEFF;
}

// U+FFFE and U+FFFF are no characters at all (XML does not allow them either): refused, and
// cleaned as an invalid byte is.
bool isNonCharacter(char32_t c) { return c == 0xFFFE || c == 0xFFFF; }

}  // namespace

bool isCleanText(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const std::size_t length = sequenceAt(text, i, c);
    if (length == 0 || isControl(c) || isNonCharacter(c)) return false;
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
    } else if (isControl(c)) {
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
    if (length != 0 && !isControl(c) && !isNonCharacter(c)) {
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
