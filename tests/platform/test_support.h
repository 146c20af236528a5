#pragma once
// Helpers shared by the platform tests: a private temporary folder and environment variables
// that are put back when the test ends.

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace kvo::platformtest {

// A folder of this test's own under $AMBV_TEST_TMP (else the system's temporary folder),
// removed with its contents at the end.
class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    const char* root = std::getenv("AMBV_TEST_TMP");
    std::filesystem::path base = root != nullptr && root[0] != '\0' ? std::filesystem::path(root)
                                                                   : std::filesystem::temp_directory_path();
    path_ = base / ("platform-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Sets or unsets one environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    apply(value);
  }
  ~ScopedEnv() { apply(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void apply(const std::optional<std::string>& value) {
    if (value) {
      setenv(name_.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace kvo::platformtest
