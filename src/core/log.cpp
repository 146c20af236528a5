#include "core/log.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <system_error>

#include <fmt/format.h>

#include "core/run_flags.h"
#include "core/timeutil.h"
#include "core/utf.h"
#include "core/version.h"

std::mutex g_logMutex;

namespace {

std::FILE* g_logFile = nullptr;  // guarded by g_logMutex

// Writes prefix, text and a line end and flushes at once, so the log is complete up to the
// last line even when the program dies. Line feeds that lead or trail the text are the caller's
// blank lines and stay; every other control character and invalid byte is escaped, so that text
// quoted from outside can never make a line of its own. Caller holds g_logMutex.
void writeLocked(std::string_view prefix, std::string_view text) {
  if (g_logFile == nullptr) return;
  const std::size_t first = std::min(text.find_first_not_of('\n'), text.size());
  const std::size_t end = text.find_last_not_of('\n') + 1;  // 0 when the text is line feeds only
  std::string line;
  line.reserve(prefix.size() + text.size() + 1);
  line.append(prefix).append(text.substr(0, first));
  if (end > first) {
    line.append(kvo::escapeControls(text.substr(first, end - first))).append(text.substr(end));
  }
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), g_logFile);
  std::fflush(g_logFile);
}

void writeLine(std::string_view prefix, std::string_view text) noexcept {
  try {
    std::lock_guard lock(g_logMutex);
    writeLocked(prefix, text);
  } catch (...) {
    // The log must never take its caller down.
  }
}

void copyIfExists(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code ec;
  if (std::filesystem::exists(from, ec)) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  }
}

}  // namespace

void logLine(std::string_view text) { writeLine({}, text); }

void logArrowLine(std::string_view text) { writeLine("===> ", text); }

void logIndentedLine(std::string_view text) { writeLine("          ", text); }

void logLineIfRunning(std::string_view text) {
  if (g_stopRequested.load() || g_quitRequested.load()) return;
  writeLine({}, text);
}

bool openLogFile(const std::filesystem::path& folder) {
  try {
    std::filesystem::path dir = folder.empty() ? std::filesystem::current_path() : folder;
    std::lock_guard lock(g_logMutex);
    if (g_logFile != nullptr) {
      std::fclose(g_logFile);
      g_logFile = nullptr;
    }
    // Keep the two previous runs' logs.
    copyIfExists(dir / "Log0.txt", dir / "Log00.txt");
    copyIfExists(dir / "Log.txt", dir / "Log0.txt");
    g_logFile = std::fopen((dir / "Log.txt").string().c_str(), "wb");
    if (g_logFile == nullptr) return false;
    writeLocked({}, fmt::format("{} (utc) {} version {} for {}", timeToText(utcNowSeconds()),
                                "Ambrelvane", g_programVersion.toString(), "MSFS 2020/2024"));
    return true;
  } catch (...) {
    return false;
  }
}

void closeLogFile() {
  std::lock_guard lock(g_logMutex);
  if (g_logFile != nullptr) {
    std::fclose(g_logFile);
    g_logFile = nullptr;
  }
}

bool isLogOpen() {
  std::lock_guard lock(g_logMutex);
  return g_logFile != nullptr;
}

namespace kvo {

std::string printableForLog(std::string_view text) {
  // Not inside a UTF-8 sequence: a cut character would be escaped as bytes that are not its own.
  std::size_t end = std::min(text.size(), kLoggedTextLimit);
  for (int k = 0; k < 3 && end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80; ++k) --end;
  std::string out = escapeControls(text.substr(0, end));
  if (end < text.size()) fmt::format_to(std::back_inserter(out), "... ({} bytes)", text.size());
  return out;
}

void logFirstAndCount(std::size_t count, std::size_t limit, const std::function<std::string(std::size_t)>& line,
                      const std::function<std::string(std::size_t)>& more) {
  for (std::size_t i = 0; i < count && i < limit; ++i) logArrowLine(line(i));
  if (count > limit) logArrowLine(more(count - limit));
}

void RepeatedLogLines::write(std::string_view kind, std::string_view line, Writer writer) {
  const auto now = utcNow();
  for (Kind& k : kinds_) {
    if (k.name != kind) continue;
    // A clock set back counts as a new period too.
    if (now >= k.periodStart && now - k.periodStart < period_) {
      k.suppressed += 1;
      anySuppressed_ = true;
      return;
    }
    writeCount(k);
    k.periodStart = now;
    k.writer = writer;
    writer(line);
    return;
  }
  kinds_.push_back(Kind{std::string(kind), writer, now, 0});
  writer(line);
}

void RepeatedLogLines::flush(bool all) {
  if (!anySuppressed_) return;
  const auto now = utcNow();
  bool left = false;
  for (Kind& k : kinds_) {
    if (k.suppressed == 0) continue;
    if (all || now < k.periodStart || now - k.periodStart >= period_) {
      writeCount(k);
    } else {
      left = true;
    }
  }
  anySuppressed_ = left;
}

void RepeatedLogLines::writeCount(Kind& kind) {
  if (kind.suppressed == 0) return;
  kind.writer(fmt::format("{} more \"{}\" line{} in {} s", kind.suppressed, kind.name, kind.suppressed == 1 ? "" : "s",
                          period_.count()));
  kind.suppressed = 0;
}

}  // namespace kvo
