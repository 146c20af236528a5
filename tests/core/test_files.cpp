#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "core/files.h"
#include "core/log.h"
#include "core/user_error.h"
#include "core/utf.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

std::size_t filesIn(const fs::path& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
  return n;
}

TEST(Files, ReadLinesDropsWindowsLineEnds) {
  std::istringstream in("first\r\nsecond\n\nlast");
  EXPECT_EQ(readLines(in), (std::vector<std::string>{"first", "second", "", "last"}));
  std::istringstream empty("");
  EXPECT_TRUE(readLines(empty).empty());
}

TEST(Files, WriteLinesAndTextFileReplaceTheFile) {
  coretest::TempFolder dir;
  const fs::path file = dir / "out.txt";
  coretest::writeFile(file, "a much longer old content that must disappear entirely\n");
  ASSERT_TRUE(writeLines({"one", "two"}, file));
  EXPECT_EQ(coretest::readFile(file), "one\ntwo\n");
  ASSERT_TRUE(writeTextFile("text", file, false));
  EXPECT_EQ(coretest::readFile(file), "text");
  ASSERT_TRUE(writeTextFile("text", file, true));
  EXPECT_EQ(coretest::readFile(file), "text\n");
  ASSERT_TRUE(writeLines({}, file));
  EXPECT_EQ(coretest::readFile(file), "");
  EXPECT_EQ(filesIn(dir.path()), 1u);  // no temporary file left behind
}

// What a caller passes from outside cannot break a line of a text file nor the XML of our files:
// XML 1.0 holds no control character, not even as "&#1;", nor U+FFFE, and one declaration only.
TEST(Files, WritersCleanWhatTheyAreGiven) {
  coretest::TempFolder dir;
  ASSERT_TRUE(writeLines({"a\nforged", "b\xFF"}, dir / "lines.txt"));
  EXPECT_EQ(coretest::readFile(dir / "lines.txt"), "a forged\nb\xEF\xBF\xBD\n");

  pugi::xml_document doc;
  doc.append_child(pugi::node_declaration).append_attribute("version") = "1.0";
  pugi::xml_node root = doc.append_child("airport");
  root.append_attribute("cs") = "DLH\x01X1\xFF\xEF\xBF\xBE";  // U+FFFE is no XML character
  root.append_child(pugi::node_pcdata).set_value("text\x1B");
  std::string text = xmlFileText(doc, " ");
  EXPECT_TRUE(text.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"));
  EXPECT_EQ(text.find("<?xml", 1), std::string::npos);
  EXPECT_EQ(text.find("&#"), std::string::npos);
  std::erase(text, '\n');
  EXPECT_TRUE(kvo::isCleanText(text)) << text;
  EXPECT_NE(text.find("cs=\"DLH X1\xEF\xBF\xBD\xEF\xBF\xBD\""), std::string::npos) << text;
}

TEST(Files, WindowsDeviceNames) {
  const std::vector<std::pair<std::string, bool>> names = {
      {"CON", true},       {"con", true},      {"Nul", true},        {"AUX.txt", true},   {"prn.tar.gz", true},
      {"COM1", true},      {"com0", true},     {"LPT9.log", true},   {"COM\xC2\xB9", true}, {"CON.", true},
      {"NUL ", true},      {"CON .txt", true}, {"CONIN$", true},     {"conout$.x", true},  {"COM", false},
      {"COM10", false},    {"LPT", false},     {"NUL1", false},      {"CONSOLE", false},  {"_CON", false},
      {"xCON", false},     {".CON", false},    {"LOWS", false},      {"", false},         {"..", false},
  };
  for (const auto& [name, device] : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(isWindowsDeviceName(name), device);
    EXPECT_EQ(deviceSafeName(name), device ? "_" + name : name);
  }
}

// Links inside a folder are not followed: five links back to the folder itself leave one visit of
// each file, and the walk stops at its cap.
TEST(Files, WalkVisitsEachRealFolderOnceUpToTheCap) {
  coretest::TempFolder dir;
  const fs::path package = dir / "package";
  fs::create_directories(package / "scenery");
  coretest::writeFile(package / "a.bgl", "a");
  coretest::writeFile(package / "scenery" / "b.bgl", "b");
  for (int i = 1; i <= 5; ++i) fs::create_directory_symlink(".", package / ("loop" + std::to_string(i)));
  fs::create_directory_symlink("..", package / "scenery" / "up");
  std::vector<std::string> seen;
  const auto enter = [](const fs::directory_entry&) { return true; };
  const auto take = [&seen](const fs::directory_entry& f) {
    seen.push_back(f.path().filename().string());
    return true;
  };
  EXPECT_TRUE(walkFiles(package, 8, 100, enter, take));
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"a.bgl", "b.bgl"}));
  seen.clear();
  EXPECT_FALSE(walkFiles(package, 8, 1, enter, take));
  EXPECT_EQ(seen.size(), 1u);
}

TEST(Files, FailedWriteKeepsTheOldFile) {
  coretest::TempFolder dir;
  const fs::path file = dir / "parameters.xml";
  coretest::writeFile(file, "<parameters>good</parameters>");

  // The disk "fills up" in the middle of the write: the file-size limit makes writes fail.
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = writeFileAtomically(file, std::string(100000, 'x'));
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);

  EXPECT_FALSE(written);
  EXPECT_EQ(coretest::readFile(file), "<parameters>good</parameters>");
  EXPECT_EQ(filesIn(dir.path()), 1u);
}

TEST(Files, WriteIntoAMissingFolderOrOverAFolderFails) {
  coretest::TempFolder dir;
  EXPECT_FALSE(writeTextFile("x", dir / "missing/file.txt", true));
  fs::create_directories(dir / "sub/inner");
  EXPECT_FALSE(writeFileAtomically(dir / "sub", "x"));
  EXPECT_TRUE(fs::is_directory(dir / "sub/inner"));
  EXPECT_EQ(filesIn(dir.path()), 1u);
}

TEST(Files, ConcurrentSavesLeaveOneWholeVersion) {
  coretest::TempFolder dir;
  const fs::path file = dir / "shared.xml";
  constexpr int kThreads = 8, kRounds = 25;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each writer's content is its own letter, many kilobytes long.
      const std::string content(20000 + t * 1000, static_cast<char>('a' + t));
      for (int r = 0; r < kRounds; ++r) {
        if (!writeFileAtomically(file, content)) ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  const std::string result = coretest::readFile(file);
  ASSERT_FALSE(result.empty());
  const int t = result[0] - 'a';
  ASSERT_GE(t, 0);
  ASSERT_LT(t, kThreads);
  EXPECT_EQ(result, std::string(20000 + t * 1000, result[0]));
  EXPECT_EQ(filesIn(dir.path()), 1u);
}

TEST(Files, CleanFolderEmptiesItAndLogs) {
  coretest::TempFolder dir;
  const fs::path target = dir / "my_simaddon";
  fs::create_directories(target / "nested");
  coretest::writeFile(target / "KXYZ.txt", "x");
  coretest::writeFile(target / "nested/deep.txt", "y");
  ASSERT_TRUE(openLogFile(dir.path()));
  cleanFolder(target);
  closeLogFile();
  EXPECT_TRUE(fs::is_directory(target));
  EXPECT_EQ(countDirectoryEntries(target), 0u);
  EXPECT_NE(coretest::readFile(dir / "Log.txt").find("Cleaning folder: " + target.string()), std::string::npos);
}

TEST(Files, CleanFolderFailureIsAUserError) {
  coretest::TempFolder dir;
  try {
    cleanFolder(dir / "missing");
    ADD_FAILURE() << "no exception";
  } catch (const kvo::UserErrorException& e) {
    EXPECT_EQ(e.code(), kCleanFolderErrorCode);
  }
}

// Sets an environment variable for the scope of one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(Files, ApplicationDataFolders) {
  coretest::TempFolder dir;
  const fs::path roaming = dir / "Roaming \xC3\xBC";  // non-ASCII survives the UTF-16 round trip
  const fs::path local = dir / "Local";
  ScopedEnv a("APPDATA", roaming.c_str());
  ScopedEnv b("LOCALAPPDATA", local.c_str());
  EXPECT_EQ(getAppDataPath(), roaming);
  EXPECT_EQ(getLocalAppDataPath(), local);
  EXPECT_EQ(programFolder(), roaming / "Ambrelvane");
}

TEST(Files, ApplicationDataFolderNotFound) {
  // A folder name longer than the Win32 buffer is one the system cannot hand back.
  const std::string tooLong = "/" + std::string(400, 'x');
  ScopedEnv a("APPDATA", tooLong.c_str());
  coretest::TempFolder dir;
  ASSERT_TRUE(openLogFile(dir.path()));
  const fs::path found = getAppDataPath();
  const fs::path program = programFolder();
  closeLogFile();
  EXPECT_TRUE(found.empty());
  EXPECT_TRUE(program.empty());
  EXPECT_NE(coretest::readFile(dir / "Log.txt").find("===> "), std::string::npos);
}

}  // namespace
