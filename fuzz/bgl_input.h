#pragma once
// Any bytes as a scenery BGL file, for the fuzzer and the tests that replay its inputs. Beyond
// the sanitizers' checks, the reader must never give more than the file holds: every airport has
// a code, and there are never more parkings or helipads than the bytes could carry.
#include <cstddef>
#include <string_view>

#include "airports/bgl_reader.h"

namespace fuzzinput {

inline bool readBglInput(std::string_view input) {
  namespace bgl = kvo::bgl;
  const bgl::ReadResult r = bgl::readBgl(input);
  if (!r.scenery && (!r.airports.empty() || !r.problems.empty())) return false;
  if (r.problems.size() > bgl::kMaxProblemLines || r.notes.size() > bgl::kMaxProblemLines) return false;
  std::size_t parkings = 0;
  std::size_t helipads = 0;
  for (const bgl::Airport& a : r.airports) {
    if (a.icao.empty() || a.icao.size() > 6) return false;
    parkings += a.parkings.size();
    helipads += a.helipads.size();
  }
  return parkings <= input.size() / 20 && helipads <= input.size() / 0x20;
}

}  // namespace fuzzinput
