#pragma once
// Log.txt in the working folder. Every writer takes the log lock and writes nothing while the
// file is not open; none throws to the caller. One call writes one line: control characters and
// bytes that are not UTF-8 are written as "\xNN", except line feeds at the very start or end of
// the text, which write blank lines before or after it.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

extern std::mutex g_logMutex;

void logLine(std::string_view text);
void logArrowLine(std::string_view text);     // "===> " + text: warnings and failures
void logIndentedLine(std::string_view text);  // ten blanks + text: continuation lines
void logLineIfRunning(std::string_view text); // nothing once a stop or quit is requested

// Log0.txt -> Log00.txt, Log.txt -> Log0.txt, then opens Log.txt in the folder (default: the
// current working folder) and writes the header line. Returns false when it cannot be opened.
bool openLogFile(const std::filesystem::path& folder = {});
void closeLogFile();
bool isLogOpen();

namespace kvo {

// Outside text (a datagram, a line or value of a file) as a log line quotes it: control
// characters and invalid bytes as "\xNN" (escapeControls), so that it cannot make a line of its
// own, and beyond its first kLoggedTextLimit bytes cut, marked "... ({} bytes)" with its whole
// length, so that one line stays short whatever it quotes.
inline constexpr std::size_t kLoggedTextLimit = 1024;
std::string printableForLog(std::string_view text);

// For a list of problems whose length outside input decides: the lines of the first `limit`
// (line(i)) and then one line with the count of the rest (more(count)), all through logArrowLine.
void logFirstAndCount(std::size_t count, std::size_t limit, const std::function<std::string(std::size_t)>& line,
                      const std::function<std::string(std::size_t)>& more);

// Lines that outside input sets off at its own pace (one per bad datagram): of each kind, the
// first line of a period is written and the rest are only counted; the count follows as one
// line, "{n} more \"{kind}\" line{s} in {p} s", once the period is over. So a sender that
// floods a reader with bad datagrams adds a few lines per period to Log.txt, not one per
// datagram. Used by one thread at a time (the reader that owns it); not locked.
class RepeatedLogLines {
 public:
  using Writer = void (*)(std::string_view);
  static constexpr std::chrono::seconds kDefaultPeriod{10};

  explicit RepeatedLogLines(std::chrono::seconds period = kDefaultPeriod) : period_(period) {}

  // Writes `line` through `writer` when it is the first of its kind in the period; else counts it.
  void write(std::string_view kind, std::string_view line, Writer writer = logLine);
  // Writes the counts of the kinds whose period is over; with `all`, every count now (at the
  // end of the owner's work). Cheap when nothing was counted.
  void flush(bool all = false);
  // Forgets every kind and count (tests).
  void reset() { kinds_.clear(); }

 private:
  struct Kind {
    std::string name;
    Writer writer;
    std::chrono::system_clock::time_point periodStart;
    std::uint64_t suppressed = 0;
  };
  void writeCount(Kind& kind);

  std::chrono::seconds period_;
  std::vector<Kind> kinds_;
  bool anySuppressed_ = false;
};

}  // namespace kvo
