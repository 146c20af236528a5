#pragma once
// The encrypted data files for the fuzzers and the tests that replay their inputs: the
// decryption of any bytes, of a real stream that was cut, changed or extended, and the XML (and
// the user's registration lines) the decrypted files hold.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "aircraft/data_crypto.h"
#include "aircraft/dbase.h"

namespace fuzzinput {

// The first byte chooses: 0 the rest is a data file; 1, 2, 3 the rest after two bytes of
// position is encrypted with the built-in key and then cut there (1), has a bit changed there
// (2) or a byte added (3). False when a damaged stream was taken, or a whole one not given back
// as it was.
inline bool decryptDataInput(std::string_view input) {
  if (input.size() < 3) return true;
  const unsigned mode = static_cast<unsigned char>(input[0]) % 4;
  const std::size_t at = static_cast<unsigned char>(input[1]) * 256u + static_cast<unsigned char>(input[2]);
  std::vector<std::uint8_t> bytes;
  std::string plain;
  if (mode == 0) {
    bytes.assign(input.begin() + 1, input.end());
  } else {
    plain.assign(input.substr(3));
    bytes = gf_streamEncrypt(plain, builtInDataKey());
  }
  bool whole = true;
  if (mode == 1 && at < bytes.size()) {
    bytes.resize(at);
    whole = false;
  } else if (mode == 2) {
    bytes[at % bytes.size()] ^= static_cast<std::uint8_t>(1u << (at % 8));
    whole = false;
  } else if (mode == 3) {
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at % (bytes.size() + 1)), static_cast<std::uint8_t>(at));
    whole = false;
  }
  try {
    const std::string out = gf_streamDecrypt(bytes, builtInDataKey());
    return mode == 0 || (whole && out == plain);
  } catch (const DataDecryptError&) {
    return mode == 0 || !whole;
  }
}

inline bool validRecord(const std::pair<std::string, RegcodeRecord>& r) {
  return !r.first.empty() && r.first.size() <= 12 && isTypeDesignator(r.second.type) && r.second.cargo <= 1;
}

// The first byte chooses the reader: the data base's XML, the registration codes' XML or a
// user's registration file. False when a record the readers keep breaks the schema.
inline bool parseDataInput(std::string_view input) {
  if (input.empty()) return true;
  const unsigned mode = static_cast<unsigned char>(input[0]) % 3;
  const std::string_view text = input.substr(1);
  bool good = true;
  if (mode == 2) {
    const UserRegcodes user = parseUserRegcodes(text, "fuzz.txt");
    for (const auto& r : user.registrations) good = good && validRecord(r);
    for (const auto& s : user.specialLiveries) good = good && !s.title.empty() && s.title.size() <= 255;
    return good;
  }
  try {
    const DbaseContent content = mode == 0 ? parseDbaseXml(text) : parseRegcodesXml(text);
    for (const auto& r : content.registrations) good = good && validRecord(r);
    for (const auto& t : content.types) good = good && isTypeDesignator(t.icao);
    for (const auto& a : content.airlines) good = good && isAirlineCode(a.icao);
    for (const auto& s : content.specialLiveries) good = good && !s.title.empty() && s.title.size() <= 255;
    for (const auto& family : content.families) good = good && family.size() >= 2;
  } catch (const std::runtime_error&) {
    // Not a data file of its kind: refused with its reason.
  }
  return good;
}

}  // namespace fuzzinput
