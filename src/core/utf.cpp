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
