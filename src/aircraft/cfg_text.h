#pragma once
// Reading the simulator's text files (aircraft.cfg, the user's registration files): the
// character set is detected and the text turned into UTF-8, then the cfg syntax of sections and
// key = value lines is parsed.
#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class TextEncoding { Utf8, Utf8Bom, Utf16Le, Utf16Be, Windows1252 };
std::string_view encodingName(TextEncoding encoding);

struct DecodedText {
  std::string text;  // UTF-8, without byte-order mark
  TextEncoding encoding = TextEncoding::Utf8;
};

// Thrown for bytes that are no text file (binary content, broken UTF-16).
class TextDecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Detects the character set in the order: UTF-8 mark, UTF-16 marks, UTF-16 without mark (zero
// bytes in every other place), strict UTF-8, else Windows-1252, and returns the text as UTF-8.
// Throws TextDecodeError for binary content (zero bytes or more than a few control characters).
DecodedText decodeTextBytes(std::string_view bytes);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// One [section] of a cfg file. Section names are kept in upper case, keys in lower case (the
// simulator matches both without regard to case); values are trimmed, their comment removed and
// one pair of surrounding quotes taken off.
struct CfgSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> values;

  // The value of a key (lower case), nullptr when the section has no such key.
  const std::string* find(std::string_view key) const;
  // The value or an empty text.
  std::string_view get(std::string_view key) const;
};

struct CfgFile {
  std::vector<CfgSection> sections;
  std::vector<std::string> notes;  // repairs made while reading (duplicate keys kept once)

  const CfgSection* section(std::string_view upperName) const;
};

// Comments start with ';' or "//" outside double quotes. Lines before the first section and
// lines without '=' are ignored; of a key given twice in one section the first value is kept.
CfgFile parseCfg(std::string_view text);

// The bytes of a file; throws std::runtime_error when it cannot be read or is larger than
// maxBytes (checked before reading).
std::string readFileBytes(const std::filesystem::path& path, std::uintmax_t maxBytes);

// "FLTSIM.12" -> 12; -1 for a name that is not FLTSIM.<number>.
int fltsimIndex(std::string_view upperSectionName);
