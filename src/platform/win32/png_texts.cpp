// The texts of a window's picture carried in its PNG file: one iTXt chunk with the keyword
// "Texts", one line per text that shows: "<x> <y> <colour as 0xBBGGRR> <UTF-8 text>". A reader of
// window.png (a test driving the program as a process of its own) gets the picture and its texts
// from the same moment; image viewers skip the chunk.

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>

#include "platform/win32/canvas.h"

namespace kvo::win32impl {
namespace {

constexpr std::string_view kKeyword = "Texts";
constexpr std::size_t kSignatureSize = 8;

std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0xFFFFFFFFu) {
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint32_t bigEndianAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) | (std::uint32_t{bytes[at + 2]} << 8) |
         std::uint32_t{bytes[at + 3]};
}

// One line per text.
std::string lineOf(std::u16string_view text) {
  std::string out = utf8Of(text);
  std::replace_if(out.begin(), out.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return out;
}

std::u16string utf16Of(const std::string& text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(static_cast<std::size_t>(std::max(size, 0)), u'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

}  // namespace

void addTextsChunk(std::vector<std::uint8_t>& png, const std::vector<DrawOperation>& texts) {
  // IEND is the last chunk: 4 bytes length, "IEND", 4 bytes CRC.
  constexpr std::size_t kEndChunkSize = 12;
  if (png.size() < kSignatureSize + kEndChunkSize) return;
  std::string body;
  for (const DrawOperation& text : texts) {
    char head[64];
    std::snprintf(head, sizeof head, "%ld %ld 0x%06X ", static_cast<long>(text.rect.left),
                  static_cast<long>(text.rect.top), static_cast<unsigned>(text.colour));
    body += head + lineOf(text.text) + "\n";
  }
  const std::string type = "iTXt";
  std::string text = type;
  text += kKeyword;
  // Keyword end, not compressed, compression method, no language tag, no translated keyword.
  text.append(5, '\0');
  text += body;
  const std::vector<std::uint8_t> chunk(text.begin(), text.end());
  std::vector<std::uint8_t> framed;
  putBigEndian(framed, static_cast<std::uint32_t>(chunk.size() - type.size()));
  framed.insert(framed.end(), chunk.begin(), chunk.end());
  putBigEndian(framed, crc32(chunk.data(), chunk.size()) ^ 0xFFFFFFFFu);
  png.insert(png.end() - static_cast<std::ptrdiff_t>(kEndChunkSize), framed.begin(), framed.end());
}

std::vector<DrawOperation> textsChunkOf(const std::vector<std::uint8_t>& png) {
  std::vector<DrawOperation> texts;
  for (std::size_t at = kSignatureSize; at + 12 <= png.size();) {
    const std::uint32_t length = bigEndianAt(png, at);
    if (at + 12 + length > png.size()) break;
    const auto from = png.begin() + static_cast<std::ptrdiff_t>(at);
    const std::string type(from + 4, from + 8);
    const std::string data(from + 8, from + 8 + static_cast<std::ptrdiff_t>(length));
    at += 12 + length;
    if (type != "iTXt" || data.compare(0, kKeyword.size() + 1, std::string(kKeyword) + '\0') != 0) continue;
    std::istringstream lines(data.substr(kKeyword.size() + 5));
    for (std::string line; std::getline(lines, line);) {
      std::istringstream fields(line);
      long x = 0;
      long y = 0;
      std::string colour;
      if (!(fields >> x >> y >> colour)) continue;
      std::string rest;
      std::getline(fields, rest);
      DrawOperation text{};
      text.kind = DrawKind::Text;
      text.rect = RECT{static_cast<LONG>(x), static_cast<LONG>(y), static_cast<LONG>(x), static_cast<LONG>(y)};
      text.colour = static_cast<COLORREF>(std::stoul(colour, nullptr, 16));
      text.text = utf16Of(rest.empty() ? rest : rest.substr(1));
      texts.push_back(std::move(text));
    }
  }
  return texts;
}

}  // namespace kvo::win32impl
