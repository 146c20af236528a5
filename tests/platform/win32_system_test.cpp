// kernel32/shell32 services of the Win32 stand-in: last error, application-data folders and the
// named mutex.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/test_support.h"
#include "platform/win32/testing.h"
#include "platform/win32/win32.h"

namespace {

using kvo::platformtest::ScopedEnv;
using kvo::platformtest::TempFolder;

std::string narrow(const std::u16string& wide) {
  std::string out;
  for (const char16_t c : wide) {
    out.push_back(static_cast<char>(c));  // the test paths are ASCII
  }
  return out;
}

TEST(LastError, IsPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenByOther = 1;
  std::thread other([&seenByOther] {
    seenByOther = GetLastError();
    SetLastError(ERROR_FILE_NOT_FOUND);
  });
  other.join();
  EXPECT_EQ(seenByOther, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

struct FolderCase {
  const char* name;
  int folder;
  std::optional<std::string> windowsValue;
  std::optional<std::string> xdgValue;
  std::string expected;  // "~" stands for $HOME
};

TEST(AppDataFolders, FirstUsableSourceWins) {
  const FolderCase cases[] = {
      {"roaming from APPDATA", CSIDL_APPDATA, "/data/roaming", "/xdg/config", "/data/roaming"},
      {"roaming from XDG", CSIDL_APPDATA, std::nullopt, "/xdg/config", "/xdg/config"},
      {"empty APPDATA is unset", CSIDL_APPDATA, "", "/xdg/config", "/xdg/config"},
      {"relative XDG is ignored", CSIDL_APPDATA, std::nullopt, "relative/config", "~/.config"},
      {"roaming default", CSIDL_APPDATA, std::nullopt, std::nullopt, "~/.config"},
      {"trailing slash dropped", CSIDL_APPDATA, "/data/roaming//", std::nullopt, "/data/roaming"},
      {"local from LOCALAPPDATA", CSIDL_LOCAL_APPDATA, "/data/local", "/xdg/data", "/data/local"},
      {"local from XDG", CSIDL_LOCAL_APPDATA, std::nullopt, "/xdg/data", "/xdg/data"},
      {"local default", CSIDL_LOCAL_APPDATA, std::nullopt, std::nullopt, "~/.local/share"},
      {"creation flag ignored", CSIDL_APPDATA | 0x8000, "/data/roaming", std::nullopt, "/data/roaming"},
  };
  ScopedEnv home("HOME", std::string("/home/pilot"));
  for (const auto& c : cases) {
    const bool roaming = (c.folder & 0xFF) == CSIDL_APPDATA;
    ScopedEnv windowsVariable(roaming ? "APPDATA" : "LOCALAPPDATA", c.windowsValue);
    ScopedEnv xdgVariable(roaming ? "XDG_CONFIG_HOME" : "XDG_DATA_HOME", c.xdgValue);
    WCHAR path[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(nullptr, c.folder, nullptr, SHGFP_TYPE_CURRENT, path), S_OK) << c.name;
    std::string expected = c.expected;
    if (expected.front() == '~') {
      expected = "/home/pilot" + expected.substr(1);
    }
    EXPECT_EQ(narrow(path), expected) << c.name;
  }
}

TEST(AppDataFolders, PathsThatDoNotFitOrAreUnknownFail) {
  ScopedEnv appData("APPDATA", "/" + std::string(MAX_PATH, 'x'));
  WCHAR path[MAX_PATH];
  path[0] = u'x';
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path), E_FAIL);
  EXPECT_EQ(path[0], u'\0');
  ScopedEnv invalid("APPDATA", std::string("/bad\xFF"));
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path), E_FAIL);
  EXPECT_EQ(SHGetFolderPathW(nullptr, 0x0005, nullptr, 0, path), E_INVALIDARG);
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, nullptr), E_INVALIDARG);
}

class NamedMutexTest : public ::testing::Test {
 protected:
  TempFolder folder_;
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", folder_.path().string()};
  static constexpr const WCHAR* kName = u"Local\\$Ambrelvane$";

  // Whether another open of the lock file can take the lock right now.
  bool lockIsFree() {
    const std::string path = kvo::win32test::mutexLockPath(kName);
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      return true;  // no file, nobody holds it
    }
    const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
  }
};

TEST_F(NamedMutexTest, LockFileLiesInTheRuntimeFolderWithASafeName) {
  const std::filesystem::path path = kvo::win32test::mutexLockPath(kName);
  EXPECT_EQ(path.parent_path(), folder_.path());
  const std::string file = path.filename().string();
  EXPECT_EQ(file.find_first_of("\\$/"), std::string::npos) << file;
  // Different names never share a file, even when they differ only in replaced characters.
  EXPECT_NE(kvo::win32test::mutexLockPath(u"a/b"), kvo::win32test::mutexLockPath(u"a\\b"));
  EXPECT_NE(kvo::win32test::mutexLockPath(u"a_b"), kvo::win32test::mutexLockPath(u"a\\b"));
  EXPECT_LT(std::filesystem::path(kvo::win32test::mutexLockPath(std::u16string(600, u'\\').c_str()))
                .filename()
                .string()
                .size(),
            255u);

  ScopedEnv noRuntime("XDG_RUNTIME_DIR", std::nullopt);
  const std::string shared = kvo::win32test::mutexLockPath(kName);
  EXPECT_EQ(shared.rfind("/tmp/", 0), 0u);
  EXPECT_NE(shared.find(std::to_string(geteuid())), std::string::npos);  // users kept apart
}

TEST_F(NamedMutexTest, SecondCreateInTheProcessSeesTheFirstUntilAllHandlesClose) {
  SetLastError(ERROR_ALREADY_EXISTS);  // a stale value must not survive a fresh creation
  const HANDLE first = CreateMutexW(nullptr, FALSE, kName);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_FALSE(lockIsFree());

  const HANDLE second = CreateMutexW(nullptr, FALSE, kName);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

  EXPECT_TRUE(CloseHandle(first));
  EXPECT_FALSE(lockIsFree());  // the second handle keeps the mutex
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_TRUE(lockIsFree());

  const HANDLE again = CreateMutexW(nullptr, FALSE, kName);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_TRUE(CloseHandle(again));
  EXPECT_FALSE(CloseHandle(again));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(NamedMutexTest, HeldByAnotherProcess) {
  const std::string path = kvo::win32test::mutexLockPath(kName);
  int locked[2];
  int release[2];
  ASSERT_EQ(pipe(locked), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only async-signal-safe calls here: take the lock, report, wait for the parent.
    close(locked[0]);
    close(release[1]);
    const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
    const char ok = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
    if (write(locked[1], &ok, 1) != 1) {
      _exit(2);
    }
    char ignored;
    while (read(release[0], &ignored, 1) > 0) {
    }
    _exit(0);
  }
  close(locked[1]);
  close(release[0]);
  char ok = 'n';
  ASSERT_EQ(read(locked[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');

  const HANDLE second = CreateMutexW(nullptr, FALSE, kName);
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(CloseHandle(second));

  close(release[1]);  // the child ends and its lock goes with it
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  close(locked[0]);

  const HANDLE mine = CreateMutexW(nullptr, FALSE, kName);
  EXPECT_NE(mine, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_TRUE(CloseHandle(mine));
}

TEST_F(NamedMutexTest, LockFileOfAnotherUserIsRefused) {
  const std::string path = kvo::win32test::mutexLockPath(kName);
  const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0666);
  ASSERT_GE(fd, 0);
  const bool handedOver = fchown(fd, 65534, 65534) == 0;
  close(fd);
  if (!handedOver) {
    GTEST_SKIP() << "needs the right to give a file away";
  }
  SetLastError(0);
  EXPECT_EQ(CreateMutexW(nullptr, FALSE, kName), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(NamedMutexTest, OnlyTheOwningThreadReleases) {
  const HANDLE owned = CreateMutexW(nullptr, TRUE, kName);
  ASSERT_NE(owned, nullptr);
  BOOL releasedElsewhere = TRUE;
  std::thread other([&] { releasedElsewhere = ReleaseMutex(owned); });
  other.join();
  EXPECT_FALSE(releasedElsewhere);
  EXPECT_TRUE(ReleaseMutex(owned));
  EXPECT_FALSE(ReleaseMutex(owned));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  EXPECT_TRUE(CloseHandle(owned));
}

}  // namespace
