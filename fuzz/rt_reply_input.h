#pragma once
// RealTraffic's reply on the TCP link, for the fuzzer and the tests that replay its inputs: the
// reply arrives in pieces (the first byte gives their size) as the link reads it, until it is
// complete, an overrun or at its end, and the edition is taken from what came. A complete reply
// is one JSON value, an overrun at least the buffer's size; the edition shown is RealTraffic's
// or none.
#include <algorithm>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "links/rt_link.h"
#include "shared_state/main_window.h"

namespace fuzzinput {

inline bool readRealTrafficReplyInput(std::string_view input) {
  if (input.empty()) return true;
  const std::size_t pieceSize = static_cast<unsigned char>(input[0]) + 1u;
  std::string_view rest = input.substr(1);
  kvo::ReplyReader reader;
  const std::string& reply = reader.text();
  kvo::ReplyProgress progress = kvo::ReplyProgress::Partial;
  while (!rest.empty() && progress == kvo::ReplyProgress::Partial) {
    const std::size_t n = std::min(pieceSize, rest.size());
    progress = reader.add(rest.substr(0, n));
    rest.remove_prefix(n);
  }
  // What the reader missed: every complete prefix is one its JSON reader was asked about.
  if (progress == kvo::ReplyProgress::Partial && pieceSize == 1 && reply.size() < 512) {
    for (std::size_t end = 1; end <= reply.size(); ++end) {
      if (nlohmann::json::accept(std::string_view(reply).substr(0, end))) return false;
    }
  }
  if (progress == kvo::ReplyProgress::Overrun) return reply.size() >= kvo::kRtReceiveBufferSize;
  if (progress == kvo::ReplyProgress::Complete && !nlohmann::json::accept(reply)) return false;
  g_mainWindow.setDisplayText(&kvo::MainWindow::realTrafficEdition, {}, g_statusAreaRect);
  parseRealTrafficVersion(reply);
  const std::string edition = g_mainWindow.displayText(&kvo::MainWindow::realTrafficEdition);
  g_mainWindow.clearMessage();
  return edition.empty() || edition.starts_with("RT ");
}

}  // namespace fuzzinput
