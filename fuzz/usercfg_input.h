#pragma once
// UserCfg.opt as the simulator detection reads it, for the fuzzer and the tests that replay its
// inputs: the packages folder it names is one line's text without quotes or line ends.
#include <string>
#include <string_view>

#include "app/sim_detection.h"

namespace fuzzinput {

inline bool readUserCfgInput(std::string_view input) {
  const std::string path = installedPackagesPathIn(input);
  return path.find_first_of("\"\r\n") == std::string::npos && path.size() <= input.size();
}

}  // namespace fuzzinput
