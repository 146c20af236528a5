// The window input file: the hand of a test (or a person) on a program that runs as a process of
// its own here, where no screen, mouse or keyboard reaches its window. While the stand-in
// simulator runs by itself from a scenario file (as the run command runs the program), the
// thread of the first top-level window looks for the file every 100 ms and posts its messages.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/simconnect/by_itself.h"  // the input file follows the simulator's mode
#include "platform/win32/canvas.h"
#include "platform/win32/testing.h"
#include "platform/win32/window_object.h"

namespace kvo::win32impl {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kInputInterval = std::chrono::milliseconds(100);

enum class InputSwitch { Automatic, On };

struct InputFile {
  std::mutex mutex;
  InputSwitch mode = InputSwitch::Automatic;
  std::filesystem::path folder;  // On
  std::optional<Clock::time_point> lastLook;
  bool active = false;  // the last look found a folder to read from
  bool oddFileReported = false;  // a file that is not a regular file was reported (once)
};

InputFile& inputFile() {
  static InputFile instance;
  return instance;
}

// Messages whose parameters are plain numbers: nothing a line could give may be taken for a
// pointer.
bool acceptedMessage(UINT message) {
  switch (message) {
    case WM_CHAR:
    case WM_KEYDOWN:
    case WM_COMMAND:
    case WM_CLOSE:
    case BM_CLICK:
    case CB_SETCURSEL:
      return true;
    default:
      return false;
  }
}

bool readNumber(const std::string& token, unsigned long long& out) {
  const bool hex = token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X');
  const char* begin = token.data() + (hex ? 2 : 0);
  const char* end = token.data() + token.size();
  const auto [stop, error] = std::from_chars(begin, end, out, hex ? 16 : 10);
  return error == std::errc{} && stop == end && begin != end;
}

void report(const std::string& line, const char* why) {
  std::fprintf(stderr, "stand-in window system: %s: %s skipped\n", why, line.c_str());
}

// One line: "<control id> <message> <wParam> [<lParam>]", posted to the window (control id 0)
// or to its child control with that id.
void postLine(HWND main, const std::string& line) {
  std::istringstream fields(line);
  std::vector<unsigned long long> numbers;
  for (std::string token; fields >> token;) {
    unsigned long long value = 0;
    if (!readNumber(token, value)) {
      report(line, "not a number");
      return;
    }
    numbers.push_back(value);
  }
  if (numbers.empty()) return;  // a blank line
  if (numbers.size() < 3 || numbers.size() > 4 || numbers[0] > 0xFFFF || numbers[1] > 0xFFFFFFFFull) {
    report(line, "not <control id> <message> <wParam> [<lParam>]");
    return;
  }
  const auto message = static_cast<UINT>(numbers[1]);
  if (!acceptedMessage(message)) {
    report(line, "message not taken from the input file");
    return;
  }
  const HWND target = numbers[0] == 0 ? main : GetDlgItem(main, static_cast<int>(numbers[0]));
  if (target == nullptr) {
    report(line, "no such control");
    return;
  }
  PostMessageW(target, message, static_cast<WPARAM>(numbers[2]),
               numbers.size() == 4 ? static_cast<LPARAM>(numbers[3]) : 0);
}

// What a look at the input file found.
struct InputRead {
  bool taken = false;       // a regular file was read (and is to be removed)
  bool notRegular = false;  // something else stands under the name: not opened, not read
  bool cut = false;         // the file held more than kMaxWindowInputBytes
  std::string bytes;        // its whole lines within the first kMaxWindowInputBytes
};

// Only a regular file is read, and of it at most kMaxWindowInputBytes: a FIFO put under the name
// would block the window thread in its open or read, and a huge file would hold its memory.
// The check before the open is repeated on the open file, which a swap in between cannot pass.
InputRead readInputFile(const std::filesystem::path& path) {
  InputRead result;
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return result;
  if (!S_ISREG(status.st_mode)) {
    result.notRegular = true;
    return result;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    result.notRegular = errno == ELOOP;
    return result;
  }
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    result.notRegular = true;
    return result;
  }
  result.taken = true;
  result.bytes.resize(kvo::win32test::kMaxWindowInputBytes + 1);
  std::size_t filled = 0;
  while (filled < result.bytes.size()) {
    const ssize_t n = ::read(fd, result.bytes.data() + filled, result.bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    filled += static_cast<std::size_t>(n);
  }
  ::close(fd);
  result.bytes.resize(filled);
  if (filled > kvo::win32test::kMaxWindowInputBytes) {
    // Only whole lines count: the one the limit cuts goes with the rest.
    result.cut = true;
    const std::size_t lastEnd = result.bytes.rfind('\n', kvo::win32test::kMaxWindowInputBytes - 1);
    result.bytes.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
  }
  return result;
}

std::optional<std::filesystem::path> inputFolder() {
  auto& file = inputFile();
  {
    std::lock_guard lock(file.mutex);
    if (file.mode == InputSwitch::On) return file.folder;
  }
  return simstandin::scenarioFolderInUse();
}

}  // namespace

std::optional<Clock::time_point> serveWindowInput(std::thread::id thread) {
  const HWND main = firstTopLevelWindow();
  const auto mainObject = findWindow(main);
  if (!mainObject || mainObject->ownerThread != thread) return std::nullopt;
  auto& file = inputFile();
  const auto now = standInNow();
  {
    std::lock_guard lock(file.mutex);
    if (file.lastLook && now < *file.lastLook + kInputInterval) {
      if (!file.active) return std::nullopt;
      return *file.lastLook + kInputInterval;
    }
    file.lastLook = now;
  }
  const auto folder = inputFolder();
  {
    std::lock_guard lock(file.mutex);
    file.active = folder.has_value();
  }
  if (!folder) return std::nullopt;
  const std::filesystem::path path = *folder / win32test::kWindowInputFileName;
  const InputRead read = readInputFile(path);
  {
    std::lock_guard lock(file.mutex);
    if (read.notRegular && !file.oddFileReported) {
      std::fprintf(stderr, "stand-in window system: %s is not a regular file: not read\n", path.c_str());
    }
    file.oddFileReported = read.notRegular;
  }
  if (read.taken) {
    // Taken before its messages run: a writer that sees the file gone may put the next one.
    std::error_code ec;
    std::filesystem::remove(path, ec);
    if (read.cut) {
      std::fprintf(stderr, "stand-in window system: %s holds more than %zu bytes: the lines after them are skipped\n",
                   path.c_str(), win32test::kMaxWindowInputBytes);
    }
    std::istringstream lines(read.bytes);
    for (std::string line; std::getline(lines, line);) postLine(main, line);
  }
  return now + kInputInterval;
}

}  // namespace kvo::win32impl

namespace kvo::win32test {

void readWindowInputFrom(const std::filesystem::path& folder) {
  auto& file = kvo::win32impl::inputFile();
  std::lock_guard lock(file.mutex);
  file.mode = kvo::win32impl::InputSwitch::On;
  file.folder = folder;
  file.lastLook.reset();
}

void resetWindowInput() {
  auto& file = kvo::win32impl::inputFile();
  std::lock_guard lock(file.mutex);
  file.mode = kvo::win32impl::InputSwitch::Automatic;
  file.folder.clear();
  file.lastLook.reset();
  file.active = false;
  file.oddFileReported = false;
}

}  // namespace kvo::win32test
