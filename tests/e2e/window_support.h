#pragma once
// The program's window seen and used from outside its process: window.png (the picture with its
// texts) and the window input file through which the test's messages reach the window and its
// controls (docs/run-and-platform.md).
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "platform/win32/testing.h"

namespace e2e {

using kvo::win32test::WindowPicture;

// The last window.png the program wrote; nullopt while there is none.
inline std::optional<WindowPicture> windowPng(const Installation& at) {
  const std::string bytes = coretest::readFile(at.work() / kvo::win32test::kWindowPictureFileName);
  if (bytes.empty()) return std::nullopt;
  return kvo::win32test::pictureFromPng(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

// The colour of the text drawn at (x, y); CLR_INVALID when that text is not there.
inline COLORREF textAt(const WindowPicture& picture, std::u16string_view text, int x, int y) {
  for (const auto& t : picture.texts) {
    if (t.text == text && t.rect.left == x && t.rect.top == y) return t.colour;
  }
  return CLR_INVALID;
}

// A picture that satisfies the check comes within the bound (window.png is rewritten at most
// once a second after a change).
template <typename Check>
std::optional<WindowPicture> waitForPicture(const Installation& at, Check check, std::chrono::milliseconds bound) {
  std::optional<WindowPicture> seen;
  waitUntil(
      [&] {
        seen = windowPng(at);
        return seen && check(*seen);
      },
      bound);
  return seen && check(*seen) ? seen : std::nullopt;
}

// Lines of the window input file: a click, and typing followed by Enter (after clearing the box
// with backspaces).
inline std::string clickLine(unsigned controlId) {
  char line[48];
  std::snprintf(line, sizeof line, "0x%X 0x%X 0", controlId, BM_CLICK);
  return line;
}
inline std::vector<std::string> typeLines(unsigned controlId, const std::string& ascii, int clear = 0) {
  std::vector<std::string> lines;
  auto character = [&](unsigned code) {
    char line[48];
    std::snprintf(line, sizeof line, "0x%X 0x%X %u", controlId, WM_CHAR, code);
    lines.push_back(line);
  };
  for (int i = 0; i < clear; ++i) character(8);
  for (const char c : ascii) character(static_cast<unsigned char>(c));
  character(13);
  return lines;
}

// Hands the lines to the program's window; true when the program took them within the bound.
inline bool sendWindowInput(const Installation& at, const std::vector<std::string>& lines) {
  const fs::path file = at.work() / kvo::win32test::kWindowInputFileName;
  if (!waitUntil([&] { return !fs::exists(file); }, 10s)) return false;  // the last one first
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  coretest::writeFile(at.work() / "window-input.tmp", text);
  fs::rename(at.work() / "window-input.tmp", file);
  return waitUntil([&] { return !fs::exists(file); }, 10s);
}

// The value of a parameter in the program's parameters.xml; empty when there is none.
inline std::string storedParameter(const Installation& at, const std::string& name) {
  const std::string xml = coretest::readFile(at.roaming() / "Ambrelvane" / "parameters.xml");
  const std::string key = "name=\"" + name + "\" value=\"";
  const auto at1 = xml.find(key);
  if (at1 == std::string::npos) return {};
  const auto start = at1 + key.size();
  return xml.substr(start, xml.find('"', start) - start);
}

}  // namespace e2e
