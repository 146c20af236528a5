#pragma once
// A small writer of scenery BGL files with airports, parking stands and helipads, for the tests,
// the benchmark, the fuzz seeds and the demo add-on airport of the default installation. It
// writes the layout the program's reader takes (header, section table, one airport section with
// one subsection whose data block holds the airport records), nothing more.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace bglw {

inline void put16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
inline void put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline void putF32(std::string& out, float v) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &v, 4);
  put32(out, bits);
}
inline void set32(std::string& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The inverse formulas of the packed coordinates.
inline std::int32_t encodeLongitude(double lon) {
  return static_cast<std::int32_t>(std::llround((lon + 180.0) * 3.0 * 268435456.0 / 360.0));
}
inline std::int32_t encodeLatitude(double lat) {
  return static_cast<std::int32_t>(std::llround((90.0 - lat) * 536870912.0 / 180.0));
}

// Base 38 (blank 0, digits 2..11, letters 12..37), shifted left by 5.
inline std::uint32_t packIdent(const std::string& code) {
  std::uint32_t v = 0;
  for (char c : code) {
    std::uint32_t digit = 0;
    if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0') + 2;
    if (c >= 'A' && c <= 'Z') digit = static_cast<std::uint32_t>(c - 'A') + 12;
    v = v * 38 + digit;
  }
  return v << 5;
}

struct Parking {
  std::uint8_t name = 10;  // GATE
  std::uint8_t pushback = 0;
  std::uint8_t type = 9;   // GATE_MEDIUM
  std::uint16_t number = 1;
  std::uint8_t suffix = 0;
  float radius = 18.0f;
  float heading = 0.0f;
  double lat = 0.0;
  double lon = 0.0;
  std::vector<std::string> airlines;
};

inline std::uint32_t parkingFlags(const Parking& p) {
  return (p.name & 0x3Fu) | ((p.pushback & 0x3u) << 6) | ((p.type & 0xFu) << 8) |
         ((static_cast<std::uint32_t>(p.number) & 0xFFFu) << 12) |
         (static_cast<std::uint32_t>(p.airlines.size()) << 24);
}

struct Helipad {
  double lat = 0.0;
  double lon = 0.0;
  std::int32_t altitudeMm = 0;
  float length = 20.0f;
  float width = 20.0f;
  float heading = 0.0f;
  std::uint8_t type = 1;  // H
  bool closed = false;
  bool colourField = true;  // 0x24 bytes; without it 0x20
};

struct Airport {
  std::string icao;
  std::string name;
  double lat = 0.0;
  double lon = 0.0;
  std::int32_t altitudeMm = 0;
  std::uint16_t recordId = 0x0056;   // MSFS
  std::uint16_t parkingId = 0x00E7;  // MSFS
  bool closed = false;
  std::optional<std::uint16_t> deleteFlags;
  std::vector<Parking> parkings;
  std::vector<Helipad> helipads;
  std::vector<std::string> extraChildren;  // raw child records, written after the others
};

inline std::size_t fixedPartBytes(std::uint16_t recordId) {
  switch (recordId) {
    case 0x0056: return 0x44;
    case 0x003C: return 0x38;
    case 0x00AB: return 0x3C;
    default: return 0x34;
  }
}

// A child record: id, size (header included), body.
inline std::string child(std::uint16_t id, const std::string& body) {
  std::string out;
  put16(out, id);
  put32(out, static_cast<std::uint32_t>(body.size() + 6));
  return out + body;
}

inline std::string parkingRecord(std::uint16_t id, const std::vector<Parking>& parkings) {
  std::string body;
  put16(body, static_cast<std::uint16_t>(parkings.size()));
  for (const Parking& p : parkings) {
    put32(body, parkingFlags(p));
    putF32(body, p.radius);
    putF32(body, p.heading);
    if (id != 0x001B) {
      for (int i = 0; i < 4; ++i) putF32(body, 0.0f);  // tee offsets
    }
    put32(body, static_cast<std::uint32_t>(encodeLongitude(p.lon)));
    put32(body, static_cast<std::uint32_t>(encodeLatitude(p.lat)));
    for (const std::string& code : p.airlines) {
      std::string slot = code.substr(0, 4);
      slot.resize(4, '\0');
      body += slot;
    }
    if (id == 0x00AD) body.append(4, '\0');
    if (id == 0x00E7) {
      std::string trailer(20, '\0');
      trailer[1] = static_cast<char>(p.suffix);
      body += trailer;
    }
  }
  return child(id, body);
}

inline std::string helipadRecord(const Helipad& h) {
  std::string body;
  body.push_back(0);  // surface
  body.push_back(static_cast<char>((h.type & 0x0F) | (h.closed ? 0x20 : 0)));
  if (h.colourField) put32(body, 0xFFFFFFFFu);
  put32(body, static_cast<std::uint32_t>(encodeLongitude(h.lon)));
  put32(body, static_cast<std::uint32_t>(encodeLatitude(h.lat)));
  put32(body, static_cast<std::uint32_t>(h.altitudeMm));
  putF32(body, h.length);
  putF32(body, h.width);
  putF32(body, h.heading);
  return child(0x0026, body);
}

inline std::string airportRecord(const Airport& a) {
  std::string fixed(fixedPartBytes(a.recordId), '\0');
  fixed[0x0B] = static_cast<char>(a.helipads.size() & 0xFF);
  set32(fixed, 0x0C, static_cast<std::uint32_t>(encodeLongitude(a.lon)));
  set32(fixed, 0x10, static_cast<std::uint32_t>(encodeLatitude(a.lat)));
  set32(fixed, 0x14, static_cast<std::uint32_t>(a.altitudeMm));
  set32(fixed, 0x18, static_cast<std::uint32_t>(encodeLongitude(a.lon)));
  set32(fixed, 0x1C, static_cast<std::uint32_t>(encodeLatitude(a.lat)));
  set32(fixed, 0x20, static_cast<std::uint32_t>(a.altitudeMm));
  set32(fixed, 0x28, packIdent(a.icao));
  if (a.recordId == 0x0056 && a.closed) fixed[0x36] = 0x04;

  std::string children;
  if (!a.name.empty()) children += child(0x0019, a.name + std::string(1, '\0'));
  if (a.deleteFlags) {
    std::string body;
    put16(body, *a.deleteFlags);
    body.append(4, '\0');  // no individual deletions
    children += child(0x0033, body);
  }
  if (!a.parkings.empty()) children += parkingRecord(a.parkingId, a.parkings);
  for (const Helipad& h : a.helipads) children += helipadRecord(h);
  for (const std::string& extra : a.extraChildren) children += extra;

  std::string out = fixed + children;
  out[0] = static_cast<char>(a.recordId & 0xFF);
  out[1] = static_cast<char>(a.recordId >> 8);
  set32(out, 2, static_cast<std::uint32_t>(out.size()));
  return out;
}

// Where the pieces of a written file lie.
struct Layout {
  std::size_t sectionTable = 0x38;
  std::size_t subsectionTable = 0;
  std::size_t dataBlock = 0;
  std::vector<std::size_t> records;  // the airport records, file offsets
};

// Header, the section table (the airport section first, then empty sections of the other
// types), the subsection table of one entry and the data block with the records.
inline std::string bglFile(const std::vector<std::string>& records, const std::vector<std::uint32_t>& otherSections = {},
                           Layout* layout = nullptr) {
  const std::uint32_t sections = 1 + static_cast<std::uint32_t>(otherSections.size());
  std::string out;
  put32(out, 0x19920201u);
  put32(out, 0x38u);
  put32(out, 0x01DA0000u);  // creation time
  put32(out, 0x01DA0000u);
  put32(out, 0x08051803u);
  put32(out, sections);
  out.append(32, '\0');  // coverage cells

  std::string block;
  Layout where;
  where.subsectionTable = 0x38 + sections * 20;
  where.dataBlock = where.subsectionTable + 16;
  for (const std::string& r : records) {
    where.records.push_back(where.dataBlock + block.size());
    block += r;
  }

  put32(out, 0x03);
  put32(out, 0x00000001u);  // 16-byte subsection entries
  put32(out, 1);
  put32(out, static_cast<std::uint32_t>(where.subsectionTable));
  put32(out, 16);
  for (std::uint32_t type : otherSections) {
    put32(out, type);
    put32(out, 1);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
  }
  put32(out, 0);  // subsection id
  put32(out, static_cast<std::uint32_t>(records.size()));
  put32(out, static_cast<std::uint32_t>(where.dataBlock));
  put32(out, static_cast<std::uint32_t>(block.size()));
  out += block;
  if (layout != nullptr) *layout = where;
  return out;
}

inline std::string bglFile(const std::vector<Airport>& airports) {
  std::vector<std::string> records;
  for (const Airport& a : airports) records.push_back(airportRecord(a));
  return bglFile(records);
}

}  // namespace bglw
