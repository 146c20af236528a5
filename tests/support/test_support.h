#pragma once
// Helpers shared by the core tests: a unique temporary folder per test and small file readers.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#ifdef AMBV_FUZZ_DIR
#include <gtest/gtest.h>
#endif

namespace coretest {

// A fresh folder under $AMBV_TEST_TMP (or the system's temporary folder), removed again at the end.
class TempFolder {
 public:
  TempFolder() {
    const char* base = std::getenv("AMBV_TEST_TMP");
    std::filesystem::path root = base != nullptr && *base != '\0' ? std::filesystem::path(base)
                                                                  : std::filesystem::temp_directory_path();
    std::random_device device;
    static std::atomic<unsigned> counter{0};
    path_ = root / ("core-" + std::to_string(device()) + "-" + std::to_string(counter.fetch_add(1)));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void writeFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

// Waits until pred() holds or the bound passes; returns pred().
template <typename Pred>
bool waitFor(Pred pred, std::chrono::milliseconds bound = std::chrono::milliseconds(5000)) {
  const auto end = std::chrono::steady_clock::now() + bound;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return pred();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

#ifdef AMBV_FUZZ_DIR
// Every input kept for a fuzz target (its regression inputs and its seed corpus in fuzz/), as
// (file, bytes): the tests replay them through the fuzzer's own driver. A target without any
// fails the test that asked, so that a moved or misnamed folder cannot replay nothing unseen.
inline std::vector<std::pair<std::filesystem::path, std::string>> fuzzInputs(std::string_view target) {
  const std::filesystem::path root(AMBV_FUZZ_DIR);
  std::vector<std::pair<std::filesystem::path, std::string>> inputs;
  for (const char* kind : {"regressions", "corpus"}) {
    const auto dir = root / kind / target;
    if (!std::filesystem::exists(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) inputs.emplace_back(entry.path(), readFile(entry.path()));
  }
  EXPECT_FALSE(inputs.empty()) << "no kept input for the fuzz target " << target;
  return inputs;
}
#endif

}  // namespace coretest
