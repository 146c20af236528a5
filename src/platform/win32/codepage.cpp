// Code-page conversion between UTF-16 and UTF-8 or Windows-1252 (the ANSI code page here),
// with the Win32 conventions for lengths, size queries and errors.

#include <array>
#include <cstring>
#include <optional>

#include "platform/win32/win32.h"

namespace kvo::win32impl {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Windows-1252 0x80..0x9F. The five bytes the code page leaves undefined map to the C1
// controls of the same value, so every byte converts and converts back.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::optional<unsigned char> toCp1252(char32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    return static_cast<unsigned char>(codePoint);
  }
  for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
    if (kCp1252High[i] == codePoint) {
      return static_cast<unsigned char>(0x80 + i);
    }
  }
  return std::nullopt;
}

enum class Page { Utf8, Cp1252 };

std::optional<Page> pageOf(UINT codePage) {
  switch (codePage) {
    case CP_UTF8:
      return Page::Utf8;
    case CP_ACP:
    case CP_1252:
      return Page::Cp1252;
    default:
      return std::nullopt;
  }
}

// Counts the units of the output, and stores them while they fit. The conversion runs once:
// a size query only counts.
template <typename Unit>
class Output {
 public:
  Output(Unit* target, int capacity) : target_(target), capacity_(capacity) {}
  void put(Unit unit) {
    if (count_ < capacity_) {
      target_[count_] = unit;
    }
    ++count_;
  }
  int count() const { return count_; }
  bool overflowed() const { return capacity_ > 0 && count_ > capacity_; }

 private:
  Unit* target_;
  int capacity_;
  int count_ = 0;
};

void putUtf16(Output<WCHAR>& out, char32_t codePoint) {
  if (codePoint >= 0x10000) {
    const char32_t v = codePoint - 0x10000;
    out.put(static_cast<WCHAR>(0xD800 + (v >> 10)));
    out.put(static_cast<WCHAR>(0xDC00 + (v & 0x3FF)));
  } else {
    out.put(static_cast<WCHAR>(codePoint));
  }
}

// Decodes one UTF-8 sequence at `source[i]`; an invalid one yields nullopt and advances over
// its maximal valid prefix (at least one byte), so each bad piece becomes one replacement.
std::optional<char32_t> decodeUtf8(const unsigned char* source, std::size_t length, std::size_t& i) {
  const unsigned char lead = source[i++];
  if (lead < 0x80) {
    return lead;
  }
  int needed = 0;
  unsigned char lower = 0x80;
  unsigned char upper = 0xBF;
  char32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) lower = 0xA0;  // no overlong forms
    if (lead == 0xED) upper = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 3;
    value = lead & 0x07;
    if (lead == 0xF0) lower = 0x90;
    if (lead == 0xF4) upper = 0x8F;  // nothing above U+10FFFF
  } else {
    return std::nullopt;
  }
  for (int k = 0; k < needed; ++k) {
    if (i >= length || source[i] < lower || source[i] > upper) {
      return std::nullopt;
    }
    value = (value << 6) | (source[i] & 0x3F);
    ++i;
    lower = 0x80;
    upper = 0xBF;
  }
  return value;
}

// Reads one code point from UTF-16; a lone surrogate yields nullopt.
std::optional<char32_t> decodeUtf16(const WCHAR* source, std::size_t length, std::size_t& i) {
  const char32_t unit = source[i++];
  if (unit < 0xD800 || unit > 0xDFFF) {
    return unit;
  }
  if (unit <= 0xDBFF && i < length && source[i] >= 0xDC00 && source[i] <= 0xDFFF) {
    const char32_t low = source[i++];
    return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  }
  return std::nullopt;
}

void putUtf8(Output<char>& out, char32_t c) {
  if (c < 0x80) {
    out.put(static_cast<char>(c));
  } else if (c < 0x800) {
    out.put(static_cast<char>(0xC0 | (c >> 6)));
    out.put(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.put(static_cast<char>(0xE0 | (c >> 12)));
    out.put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.put(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.put(static_cast<char>(0xF0 | (c >> 18)));
    out.put(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.put(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Shared argument rules; returns the source length to convert, or nullopt with the error set.
template <typename Unit>
std::optional<std::size_t> sourceLengthOf(const Unit* source, int sourceLength, const void* target,
                                          int targetLength) {
  if (source == nullptr || sourceLength == 0 || sourceLength < -1 || targetLength < 0 ||
      (targetLength > 0 && target == nullptr) ||
      (targetLength > 0 && static_cast<const void*>(source) == target)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return std::nullopt;
  }
  if (sourceLength >= 0) {
    return static_cast<std::size_t>(sourceLength);
  }
  std::size_t length = 0;
  while (source[length] != 0) {
    ++length;
  }
  return length + 1;  // the terminating NUL is converted and counted too
}

template <typename Unit>
int finish(const Output<Unit>& out) {
  if (out.overflowed()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  return out.count();
}

}  // namespace
}  // namespace kvo::win32impl

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength, LPWSTR target,
                        int targetLength) {
  using namespace kvo::win32impl;
  const auto page = pageOf(codePage);
  if (!page) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (*page == Page::Utf8 && (flags & ~MB_ERR_INVALID_CHARS) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const auto length = sourceLengthOf(source, sourceLength, target, targetLength);
  if (!length) {
    return 0;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(source);
  Output<WCHAR> out(target, targetLength);
  if (*page == Page::Cp1252) {
    for (std::size_t i = 0; i < *length; ++i) {
      const unsigned char b = bytes[i];
      out.put(b >= 0x80 && b <= 0x9F ? kCp1252High[b - 0x80] : static_cast<WCHAR>(b));
    }
    return finish(out);
  }
  const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
  std::size_t i = 0;
  while (i < *length) {
    const auto codePoint = decodeUtf8(bytes, *length, i);
    if (!codePoint && strict) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
    putUtf16(out, codePoint.value_or(kReplacement));
  }
  return finish(out);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength, LPSTR target,
                        int targetLength, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
  using namespace kvo::win32impl;
  const auto page = pageOf(codePage);
  if (!page) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (*page == Page::Utf8) {
    if ((flags & ~WC_ERR_INVALID_CHARS) != 0) {
      SetLastError(ERROR_INVALID_FLAGS);
      return 0;
    }
    // UTF-8 can encode everything, so a default character makes no sense there.
    if (defaultChar != nullptr || usedDefaultChar != nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  } else if ((flags & WC_ERR_INVALID_CHARS) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const auto length = sourceLengthOf(source, sourceLength, target, targetLength);
  if (!length) {
    return 0;
  }
  Output<char> out(target, targetLength);
  const bool strict = (flags & WC_ERR_INVALID_CHARS) != 0;
  const char fallback = defaultChar != nullptr ? *defaultChar : '?';
  bool usedDefault = false;
  std::size_t i = 0;
  while (i < *length) {
    const auto codePoint = decodeUtf16(source, *length, i);
    if (*page == Page::Utf8) {
      if (!codePoint && strict) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      putUtf8(out, codePoint.value_or(kReplacement));
      continue;
    }
    const auto byte = codePoint ? toCp1252(*codePoint) : std::nullopt;
    if (byte) {
      out.put(static_cast<char>(*byte));
    } else {
      out.put(fallback);
      usedDefault = true;
    }
  }
  const int result = finish(out);
  if (result != 0 && usedDefaultChar != nullptr) {
    *usedDefaultChar = usedDefault ? TRUE : FALSE;
  }
  return result;
}
