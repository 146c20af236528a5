#pragma once
// UTF-8 <-> UTF-16 at the Win32 edge; text is UTF-8 everywhere else.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace win32 {

class Utf8ConversionException : public std::runtime_error {
 public:
  enum class ConversionType { FromUtf8, FromUtf16 };

  // errorCode is the Win32 error code (a DWORD) that the conversion reported.
  Utf8ConversionException(const std::string& message, std::uint32_t errorCode, ConversionType type)
      : std::runtime_error(message), errorCode_(errorCode), type_(type) {}

  std::uint32_t errorCode() const noexcept { return errorCode_; }
  ConversionType conversionType() const noexcept { return type_; }

 private:
  std::uint32_t errorCode_;
  ConversionType type_;
};

// Both throw Utf8ConversionException on an invalid sequence and std::overflow_error
// ("Input string too long: size_t-length doesn't fit into int.") for a text longer than an int
// can count.
std::u16string utf8ToWide(std::string_view utf8);
std::string wideToUtf8(std::u16string_view utf16);

// Windows-1252 (the code page of old files) to UTF-8; never fails.
std::string ansiToUtf8(std::string_view ansi);

}  // namespace win32

namespace kvo {

// The one rule for text from outside (datagrams, files, typed text): valid UTF-8 (no overlong
// forms, no surrogates, nothing above U+10FFFF, no noncharacters) without control characters
// (C0, DEL, C1) and without invisible ones: every default-ignorable code point and every format
// character but the joiners U+200C and U+200D, the line and paragraph separators, the Hangul and
// Khitan fillers and private use. Such text can go to the simulator, the log and our XML files as
// it is, and shows on screen what it holds.
bool isCleanText(std::string_view text);

// For text that serves the user better cleaned than refused (a publisher name, a folder's
// label): each invalid byte and noncharacter becomes U+FFFD and each control or invisible
// character a blank.
std::string cleanText(std::string_view text);

// The byte order of UTF-16 text in a file.
enum class Utf16Order { LittleEndian, BigEndian };

// The byte order of UTF-16 text without a byte-order mark; nothing when the bytes do not look like
// UTF-16. Text in UTF-8 or an 8-bit character set holds no zero bytes; UTF-16 text holds one in
// every unit below U+0100 (line breaks, digits, commas, Latin letters), always in the same byte of
// the unit, whatever script the rest of the text is in. So the zero bytes must lie nearly all on
// one side of the units, and such units must either be half of all or hold most of the bytes that
// would break lines in 8-bit text: in 8-bit text with a stray zero byte those fall in no such unit.
std::optional<Utf16Order> unmarkedUtf16Order(std::string_view bytes);

// UTF-16 text (without its byte-order mark) as UTF-8, line by line, the line ends (LF, CR LF, CR)
// kept as they are: a line holding a lone surrogate or a zero unit is no text, so it comes out
// empty and is counted in brokenLines; the other lines stand. A cut-off last byte is dropped.
std::string utf16LinesToUtf8(std::string_view bytes, Utf16Order order, std::size_t& brokenLines);

// For the log: control and invisible characters, noncharacters and invalid bytes as "\xNN", so
// that one entry stays one line and shows what it quotes. Clean text comes back unchanged.
std::string escapeControls(std::string_view text);

}  // namespace kvo
