#pragma once
// parameters.xml as the start-up reads it, for the fuzzer and the tests that replay its inputs:
// every value in force afterwards lies within its limits, and what the program wrote back reads
// back to the same values.
#include <cmath>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/files.h"
#include "core/parameters.h"

namespace fuzzinput {

// Values in force, as their stored texts; empty when one lies outside its limits.
inline std::vector<std::string> parameterValues() {
  std::vector<std::string> values;
  for (const Parameter* p : programParameters()) {
    if (const auto* i = dynamic_cast<const IntParameter*>(p)) {
      if (i->value() < i->minimum() || i->value() > i->maximum()) return {};
    } else if (const auto* f = dynamic_cast<const FloatParameter*>(p)) {
      if (!std::isfinite(f->value()) || f->value() < f->minimum() || f->value() > f->maximum()) return {};
    }
    values.push_back(p->storedText());
  }
  return values;
}

// The file is read from `folder`/Ambrelvane/parameters.xml: the caller points APPDATA at folder.
inline bool loadParametersInput(std::string_view input, const std::filesystem::path& folder) {
  const std::filesystem::path programFolder = folder / "Ambrelvane";
  std::filesystem::remove_all(programFolder);  // also what an earlier input moved aside
  std::filesystem::create_directories(programFolder);
  if (!writeFileAtomically(programFolder / "parameters.xml", input)) return false;
  resetParametersForTests();
  loadAllParameters();
  const std::vector<std::string> first = parameterValues();
  resetParametersForTests();
  loadAllParameters();  // the file as the first load left it
  const std::vector<std::string> second = parameterValues();
  resetParametersForTests();
  return !first.empty() && first == second;
}

}  // namespace fuzzinput
