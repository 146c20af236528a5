#include "aircraft/cfg_text.h"

#include <algorithm>
#include <charconv>
#include <fstream>

#include <fmt/format.h>

#include "core/log.h"
#include "core/text.h"
#include "core/utf.h"

namespace {

// More control characters than this share of the text marks binary content.
constexpr std::size_t kControlShareDivisor = 200;

std::u16string unitsOf(std::string_view bytes, bool bigEndian) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    const auto a = static_cast<unsigned char>(bytes[2 * i]);
    const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
    units[i] = static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  }
  return units;
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  if (bytes.size() % 2 != 0) bytes.remove_suffix(1);  // a cut-off last unit carries nothing
  try {
    return win32::wideToUtf8(unitsOf(bytes, bigEndian));
  } catch (const win32::Utf8ConversionException&) {
    throw TextDecodeError("broken UTF-16 text");
  }
}

// UTF-16 without a mark: ASCII text then has a zero byte in every other place.
bool looksLikeUtf16(std::string_view bytes, bool& bigEndian) {
  if (bytes.size() < 4) return false;
  const std::size_t sample = std::min<std::size_t>(bytes.size() & ~std::size_t{1}, 4096);
  std::size_t zeroEven = 0;
  std::size_t zeroOdd = 0;
  for (std::size_t i = 0; i < sample; ++i) {
    if (bytes[i] == '\0') ++(i % 2 == 0 ? zeroEven : zeroOdd);
  }
  const std::size_t half = sample / 2;
  if (zeroOdd * 10 >= half * 7 && zeroEven * 10 < half) {
    bigEndian = false;
    return true;
  }
  if (zeroEven * 10 >= half * 7 && zeroOdd * 10 < half) {
    bigEndian = true;
    return true;
  }
  return false;
}

void rejectBinary(std::string_view text) {
  std::size_t controls = 0;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == 0) throw TextDecodeError("binary content (zero bytes)");
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v') || c == 0x7F) ++controls;
  }
  if (controls > 8 && controls > text.size() / kControlShareDivisor) {
    throw TextDecodeError(fmt::format("binary content ({} control characters)", controls));
  }
}

// Cuts a trailing comment that starts outside quotes.
std::string_view stripComment(std::string_view line) {
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == ';') return line.substr(0, i);
    if (c == '/' && i + 1 < line.size() && line[i + 1] == '/') return line.substr(0, i);
  }
  return line;
}

std::string_view unquote(std::string_view value) {
  value = trimView(value);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = trimView(value.substr(1, value.size() - 2));
  } else if (!value.empty() && value.front() == '"') {
    value = trimView(value.substr(1));  // an unclosed quote: take what follows it
  }
  return value;
}

}  // namespace

std::string_view encodingName(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf8: return "UTF-8";
    case TextEncoding::Utf8Bom: return "UTF-8 with BOM";
    case TextEncoding::Utf16Le: return "UTF-16 LE";
    case TextEncoding::Utf16Be: return "UTF-16 BE";
    case TextEncoding::Windows1252: return "Windows-1252";
  }
  return "?";
}

bool isValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int extra = 0;
    std::uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07u;
    } else {
      return false;
    }
    if (end - p <= extra) return false;
    for (int i = 1; i <= extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i] & 0x3Fu);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    p += extra + 1;
  }
  return true;
}

DecodedText decodeTextBytes(std::string_view bytes) {
  DecodedText out;
  bool bigEndian = false;
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    bytes.remove_prefix(3);
    if (!isValidUtf8(bytes)) throw TextDecodeError("broken UTF-8 text after a UTF-8 mark");
    out.text.assign(bytes);
    out.encoding = TextEncoding::Utf8Bom;
  } else if (bytes.starts_with("\xFF\xFE")) {
    out.text = utf16ToUtf8(bytes.substr(2), false);
    out.encoding = TextEncoding::Utf16Le;
  } else if (bytes.starts_with("\xFE\xFF")) {
    out.text = utf16ToUtf8(bytes.substr(2), true);
    out.encoding = TextEncoding::Utf16Be;
  } else if (looksLikeUtf16(bytes, bigEndian)) {
    out.text = utf16ToUtf8(bytes, bigEndian);
    out.encoding = bigEndian ? TextEncoding::Utf16Be : TextEncoding::Utf16Le;
  } else if (isValidUtf8(bytes)) {
    out.text.assign(bytes);
    out.encoding = TextEncoding::Utf8;
  } else {
    rejectBinary(bytes);  // before converting, so that zero bytes are not carried along
    out.text = win32::ansiToUtf8(bytes);
    out.encoding = TextEncoding::Windows1252;
  }
  rejectBinary(out.text);
  return out;
}

const std::string* CfgSection::find(std::string_view key) const {
  for (const auto& [k, v] : values) {
    if (k == key) return &v;
  }
  return nullptr;
}

std::string_view CfgSection::get(std::string_view key) const {
  const std::string* v = find(key);
  return v != nullptr ? std::string_view(*v) : std::string_view();
}

const CfgSection* CfgFile::section(std::string_view upperName) const {
  for (const CfgSection& s : sections) {
    if (s.name == upperName) return &s;
  }
  return nullptr;
}

CfgFile parseCfg(std::string_view text) {
  CfgFile file;
  CfgSection* current = nullptr;
  for (const std::string_view whole : splitLines(text)) {
    const std::string_view line = trimView(stripComment(whole));
    if (line.empty()) continue;
    if (line.front() == '[') {
      const auto close = line.find(']');
      const std::string_view name = trimView(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
      file.sections.push_back(CfgSection{toUpperAscii(name), {}});
      current = &file.sections.back();
      continue;
    }
    if (current == nullptr) continue;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string key = toLowerAscii(trimView(line.substr(0, eq)));
    if (key.empty()) continue;
    if (current->find(key) != nullptr) {
      file.notes.push_back(fmt::format("[{}] {} given twice, the first value is kept", kvo::printableForLog(current->name),
                                       kvo::printableForLog(key)));
      continue;
    }
    current->values.emplace_back(std::move(key), std::string(unquote(line.substr(eq + 1))));
  }
  return file;
}

int fltsimIndex(std::string_view upperSectionName) {
  constexpr std::string_view prefix = "FLTSIM.";
  if (!upperSectionName.starts_with(prefix)) return -1;
  const std::string_view digits = upperSectionName.substr(prefix.size());
  if (digits.empty() || digits.size() > 6) return -1;
  int value = 0;
  const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || ptr != digits.data() + digits.size() || value < 0) return -1;
  return value;
}

std::string readFileBytes(const std::filesystem::path& path, std::uintmax_t maxBytes) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) throw std::runtime_error(fmt::format("cannot read the file size: {}", ec.message()));
  if (size > maxBytes) {
    throw std::runtime_error(fmt::format("file too large ({} bytes, at most {} expected)", size, maxBytes));
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open the file");
  std::string bytes(static_cast<std::size_t>(size), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(size));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) throw std::runtime_error("read error");
  return bytes;
}
