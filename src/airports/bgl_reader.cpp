#include "airports/bgl_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <system_error>

#include <fmt/format.h>

#include "aircraft/cfg_text.h"
#include "core/text.h"
#include "core/utf.h"

namespace fs = std::filesystem;

namespace kvo::bgl {

namespace {

// Little-endian fields of a piece whose bounds the caller has checked.
std::uint16_t u16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    (static_cast<unsigned char>(b[at + 1]) << 8));
}
std::uint32_t u32(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24);
}
std::int32_t i32(std::string_view b, std::size_t at) { return static_cast<std::int32_t>(u32(b, at)); }
float f32(std::string_view b, std::size_t at) { return std::bit_cast<float>(u32(b, at)); }

// Section types that hold nothing for this reader but are known to occur next to airports.
constexpr std::array<std::uint32_t, 10> kKnownOtherSections{0x13, 0x17, 0x20, 0x22, 0x23, 0x25, 0x27, 0x2C, 0xDA, 0xDB};

// Child records of an airport that are known and passed over.
constexpr std::array<std::uint16_t, 48> kKnownOtherChildren{
    0x0004, 0x0011, 0x0012, 0x001A, 0x001C, 0x001D, 0x0024, 0x0030, 0x0031, 0x0037, 0x0038, 0x0039,
    0x003A, 0x003B, 0x003E, 0x0040, 0x0041, 0x0042, 0x0048, 0x0057, 0x0058, 0x0059, 0x005A, 0x005B,
    0x0066, 0x00AC, 0x00AE, 0x00AF, 0x00B0, 0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x00D3, 0x00D4, 0x00D8,
    0x00D9, 0x00DB, 0x00DD, 0x00DE, 0x00E8, 0x00E9, 0x00FA, 0x0019, 0x0026, 0x0033, 0x003D, 0x00E7};

template <std::size_t N, typename T>
bool isOneOf(const std::array<T, N>& list, T value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

std::string hexList(const std::set<std::uint32_t>& values) {
  std::string out;
  for (std::uint32_t v : values) {
    if (!out.empty()) out += ", ";
    out += fmt::format("{:#x}", v);
  }
  return out;
}

// The name bytes as UTF-8: MSFS writes UTF-8, the older formats Latin-1. Names are shown and saved,
// so what is left of a bad byte or a control character is cleaned text, not a refusal. Cut before
// cleaning, so that a character cut in two becomes U+FFFD rather than a broken sequence.
std::string nameText(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  std::string text;
  try {
    text = decodeTextBytes(bytes).text;
  } catch (const TextDecodeError&) {
    text.assign(bytes);
  }
  if (text.size() > 200) text.resize(200);
  return trim(cleanText(text));
}

// True when the child records from `start` chain exactly to the end of the record.
bool childrenChain(std::string_view record, std::size_t start) {
  std::size_t pos = start;
  while (pos < record.size()) {
    if (record.size() - pos < 6) return false;
    const std::uint32_t size = u32(record, pos + 2);
    if (size < 6 || size > record.size() - pos) return false;
    pos += size;
  }
  return pos == record.size();
}

class Reader {
 public:
  Reader(ByteSource& source, ReadResult& out) : source_(source), out_(out) {}

  void run() {
    const std::uint64_t size = source_.size();
    std::string header;
    if (size < kHeaderBytes || !source_.read(0, kHeaderBytes, header)) return;
    if (u32(header, 0x00) != kMagic1 || u32(header, 0x10) != kMagic2) return;
    out_.scenery = true;

    const std::uint32_t sections = u32(header, 0x14);
    if (sections > (size - kHeaderBytes) / kSectionEntryBytes) {
      problem(fmt::format("its section table ({} sections) runs past the end of the file", sections));
      return;
    }
    std::string table;
    if (!readCounted(kHeaderBytes, std::size_t{sections} * kSectionEntryBytes, table)) return;
    std::set<std::uint32_t> unknown;
    for (std::uint32_t s = 0; s < sections && !givenUp_; ++s) {
      const std::string_view e(table.data() + std::size_t{s} * kSectionEntryBytes, kSectionEntryBytes);
      const std::uint32_t type = u32(e, 0x00);
      if (type == kAirportSection || type == kAirportSectionAlt) {
        readAirportSection(s, e);
      } else if (!isOneOf(kKnownOtherSections, type)) {
        unknown.insert(type);
      }
    }
    if (givenUp_) {
      out_.airports.clear();
      return;
    }
    if (!unknown.empty()) note(fmt::format("sections of unknown types passed over: {}", hexList(unknown)));
    if (!unknownChildren_.empty()) {
      note(fmt::format("airport records of unknown kinds passed over: {}", hexList(unknownChildren_)));
    }
  }

 private:
  // At most kMaxProblemLines lines of each kind; the last one then counts the rest.
  static void addCapped(std::vector<std::string>& lines, std::size_t& dropped, std::string text,
                        std::string_view what) {
    if (lines.size() < kMaxProblemLines) {
      lines.push_back(std::move(text));
    } else {
      ++dropped;
      lines.back() = fmt::format("... and {} more {}", dropped + 1, what);
    }
  }
  void problem(std::string text) { addCapped(out_.problems, droppedProblems_, std::move(text), "problems"); }
  void note(std::string text) { addCapped(out_.notes, droppedNotes_, std::move(text), "notes"); }

  // Reads within the per-file budget.
  bool readCounted(std::uint64_t offset, std::uint64_t n, std::string& out) {
    if (n > kMaxBlockBytes) {
      problem(fmt::format("a table or data block of {} bytes at {:#x} is larger than the reader takes", n, offset));
      return false;
    }
    if (readSoFar_ + n > kMaxFileReadBytes) {
      problem("more airport data than the reader takes from one file");
      givenUp_ = true;
      return false;
    }
    readSoFar_ += n;
    if (offset > source_.size() || n > source_.size() - offset ||
        !source_.read(offset, static_cast<std::size_t>(n), out)) {
      problem(fmt::format("{} bytes at {:#x} cannot be read", n, offset));
      return false;
    }
    return true;
  }

  void readAirportSection(std::uint32_t index, std::string_view e) {
    const std::uint32_t flag = u32(e, 0x04);
    const std::uint32_t count = u32(e, 0x08);
    const std::uint32_t tableOffset = u32(e, 0x0C);
    const std::uint32_t tableSize = u32(e, 0x10);
    const std::uint32_t entryBytes = ((flag & 0x10000u) | 0x40000u) >> 14;
    if (count == 0) return;
    const std::uint64_t bytes = std::uint64_t{count} * entryBytes;
    if (tableOffset > source_.size() || bytes > source_.size() - tableOffset) {
      problem(fmt::format("airport section {}: its subsection table ({} entries at {:#x}) lies outside the file",
                          index, count, tableOffset));
      return;
    }
    if (tableSize != bytes) {
      note(fmt::format("airport section {}: subsection table size {} taken as {} x {}", index, tableSize, count,
                       entryBytes));
    }
    std::string table;
    if (!readCounted(tableOffset, bytes, table)) return;
    for (std::uint32_t i = 0; i < count && !givenUp_; ++i) {
      const std::string_view s(table.data() + std::size_t{i} * entryBytes, entryBytes);
      const std::uint32_t records = u32(s, 0x04);
      const std::uint32_t offset = u32(s, 0x08);
      const std::uint32_t size = u32(s, 0x0C);
      if (offset > source_.size() || size > source_.size() - offset) {
        problem(fmt::format("airport data block of {} bytes at {:#x} lies outside the file", size, offset));
        continue;
      }
      std::string block;
      if (!readCounted(offset, size, block)) continue;
      walkRecords(block, records, offset);
    }
  }

  void walkRecords(std::string_view block, std::uint32_t records, std::uint32_t blockOffset) {
    std::size_t pos = 0;
    for (std::uint32_t r = 0; r < records && pos < block.size() && !givenUp_; ++r) {
      const std::uint64_t at = std::uint64_t{blockOffset} + pos;
      if (block.size() - pos < 6) {
        problem(fmt::format("record at {:#x} is cut off", at));
        return;
      }
      const std::uint16_t id = u16(block, pos);
      const std::uint32_t size = u32(block, pos + 2);
      if (size < 6) {
        problem(fmt::format("record {:#06x} at {:#x} has a length of {}: the rest of its block is not read", id, at,
                            size));
        return;
      }
      if (size > block.size() - pos) {
        problem(fmt::format("record {:#06x} at {:#x} ({} bytes) runs past its data block", id, at, size));
        return;
      }
      readAirport(block.substr(pos, size), id, at);
      pos += size;
    }
  }

  // The fixed-part sizes to try for a record id, the documented one first.
  static std::vector<std::size_t> fixedSizes(std::uint16_t id) {
    switch (id) {
      case kAirportMsfs: return {0x44};
      case kAirportFsx: return {0x38};
      case kAirportP3d5: return {0x3C, 0x38, 0x44};
      default: return {kAirportFs9Bytes};
    }
  }

  void readAirport(std::string_view rec, std::uint16_t id, std::uint64_t at) {
    std::optional<std::size_t> fixed;
    for (std::size_t f : fixedSizes(id)) {
      if (f <= rec.size() && childrenChain(rec, f)) {
        fixed = f;
        break;
      }
    }
    const std::string icao = rec.size() >= 0x2C ? decodeIdent(u32(rec, 0x28)) : std::string();
    const std::string label = icao.empty() ? fmt::format("airport record at {:#x}", at) : icao;
    if (!fixed) {
      problem(fmt::format("{}: record {:#06x} of {} bytes has no readable layout; not read", label, id, rec.size()));
      return;
    }
    if (icao.empty()) {
      problem(fmt::format("{}: its ident {:#x} is no airport code; not read", label, u32(rec, 0x28)));
      return;
    }
    if (id != kAirportMsfs && id != kAirportFsx && id != kAirportP3d5) {
      note(fmt::format("{}: record {:#06x} read as an FS2004 airport record", icao, id));
    }
    if (++identCount_[icao] >= kMaxIdentRepeats) {
      problem(fmt::format("{} occurs {} times: the file is malformed and not read", icao, kMaxIdentRepeats));
      givenUp_ = true;
      return;
    }

    Airport a;
    a.icao = icao;
    a.recordId = id;
    a.longitude = longitudeOf(i32(rec, 0x0C));
    a.latitude = latitudeOf(i32(rec, 0x10));
    a.altitudeMetres = i32(rec, 0x14) / 1000.0;
    a.closed = id == kAirportMsfs && (static_cast<unsigned char>(rec[0x36]) & 0x04) != 0;

    for (std::size_t pos = *fixed; pos < rec.size();) {
      const std::uint32_t size = u32(rec, pos + 2);
      const std::string_view child = rec.substr(pos, size);
      const std::uint16_t cid = u16(child, 0);
      bool ok = true;
      switch (cid) {
        case kName: a.name = nameText(child.substr(6)); break;
        case kParkingFs9:
        case kParkingFsx:
        case kParkingP3d5:
        case kParkingMsfs: ok = readParkings(child, cid, a); break;
        case kHelipad: readHelipad(child, a); break;
        case kDeleteAirport:
          if (child.size() >= 8) {
            a.hasDelete = true;
            a.deleteFlags |= u16(child, 6);
          }
          break;
        default:
          if (!isOneOf(kKnownOtherChildren, cid)) unknownChildren_.insert(cid);
          break;
      }
      if (!ok) {
        problem(fmt::format("{}: parking record {:#06x} at {:#x} does not match its size; airport not read", icao,
                            cid, at + pos));
        return;
      }
      pos += size;
    }
    out_.airports.push_back(std::move(a));
  }

  // The parking entries of one container; false when no entry layout fills it exactly.
  static bool readParkings(std::string_view rec, std::uint16_t id, Airport& a) {
    if (rec.size() < 8) return false;
    const std::uint16_t n = u16(rec, 6);
    const bool fs9 = id == kParkingFs9;
    const std::size_t base = fs9 ? 20 : 36;
    std::vector<std::size_t> trailers;
    switch (id) {
      case kParkingMsfs: trailers = {20, 0, 4}; break;
      case kParkingP3d5: trailers = {4, 0, 20}; break;
      case kParkingFsx: trailers = {0, 4, 20}; break;
      default: trailers = {0}; break;
    }
    for (std::size_t trailer : trailers) {
      std::size_t pos = 8;
      bool fits = true;
      for (std::uint16_t i = 0; i < n && fits; ++i) {
        if (rec.size() - pos < base + trailer) {
          fits = false;
          break;
        }
        const std::size_t entry = base + 4u * (u32(rec, pos) >> 24) + trailer;
        if (rec.size() - pos < entry) fits = false;
        pos += entry;
      }
      if (!fits || pos != rec.size()) continue;
      pos = 8;
      a.parkings.reserve(a.parkings.size() + n);
      for (std::uint16_t i = 0; i < n; ++i) {
        const std::uint32_t flags = u32(rec, pos);
        Parking p;
        p.nameCode = static_cast<std::uint8_t>(flags & 0x3Fu);
        p.pushback = static_cast<std::uint8_t>((flags >> 6) & 0x3u);
        p.type = static_cast<std::uint8_t>((flags >> 8) & 0xFu);
        p.number = static_cast<std::uint16_t>((flags >> 12) & 0xFFFu);
        p.radius = f32(rec, pos + 4);
        p.heading = f32(rec, pos + 8);
        const std::size_t coords = fs9 ? 0x0C : 0x1C;
        p.longitude = longitudeOf(i32(rec, pos + coords));
        p.latitude = latitudeOf(i32(rec, pos + coords + 4));
        const std::size_t codes = 4u * (flags >> 24);
        if (trailer == 20) p.suffix = static_cast<std::uint8_t>(rec[pos + base + codes + 1]);
        a.parkings.push_back(p);
        pos += base + codes + trailer;
      }
      return true;
    }
    return false;
  }

  // 0x24 bytes with the colour field, 0x20 without it; other sizes are not trusted.
  void readHelipad(std::string_view rec, Airport& a) {
    std::size_t coords = 0;
    if (rec.size() == 0x24) {
      coords = 0x0C;
    } else if (rec.size() == 0x20) {
      coords = 0x08;
    } else {
      note(fmt::format("{}: helipad record of {} bytes passed over", a.icao, rec.size()));
      return;
    }
    const auto flags = static_cast<unsigned char>(rec[7]);
    if ((flags & 0x20u) != 0) {
      ++a.closedHelipads;
      return;
    }
    Helipad h;
    h.type = static_cast<std::uint8_t>(flags & 0x0Fu);
    h.longitude = longitudeOf(i32(rec, coords));
    h.latitude = latitudeOf(i32(rec, coords + 4));
    h.length = f32(rec, coords + 12);
    h.width = f32(rec, coords + 16);
    h.heading = f32(rec, coords + 20);
    a.helipads.push_back(h);
  }

  ByteSource& source_;
  ReadResult& out_;
  std::uint64_t readSoFar_ = 0;
  std::size_t droppedProblems_ = 0;
  std::size_t droppedNotes_ = 0;
  bool givenUp_ = false;
  std::map<std::string, std::size_t> identCount_;
  std::set<std::uint32_t> unknownChildren_;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read(std::uint64_t offset, std::size_t n, std::string& out) override {
    if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
    out.assign(bytes_.substr(static_cast<std::size_t>(offset), n));
    return true;
  }

 private:
  std::string_view bytes_;
};

class FileSource final : public ByteSource {
 public:
  FileSource(std::ifstream& in, std::uint64_t size) : in_(in), size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, std::size_t n, std::string& out) override {
    if (offset > size_ || n > size_ - offset) return false;
    out.resize(n);
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(out.data(), static_cast<std::streamsize>(n));
    return static_cast<std::size_t>(in_.gcount()) == n;
  }

 private:
  std::ifstream& in_;
  std::uint64_t size_;
};

}  // namespace

double longitudeOf(std::int32_t x) { return static_cast<double>(x) * 360.0 / (3.0 * 268435456.0) - 180.0; }

double latitudeOf(std::int32_t y) { return 90.0 - static_cast<double>(y) * 180.0 / 536870912.0; }

std::string decodeIdent(std::uint32_t packed) {
  std::uint32_t v = packed >> 5;
  std::string reversed;
  while (v != 0) {
    const std::uint32_t code = v % 38;
    v /= 38;
    if (code == 1) return {};
    if (code == 0) {
      reversed.push_back(' ');
    } else if (code <= 11) {
      reversed.push_back(static_cast<char>('0' + (code - 2)));
    } else {
      reversed.push_back(static_cast<char>('A' + (code - 12)));
    }
  }
  std::string code(reversed.rbegin(), reversed.rend());
  while (!code.empty() && code.back() == ' ') code.pop_back();
  if (code.empty() || code.find(' ') != std::string::npos) return {};
  return code;
}

ReadResult readBgl(ByteSource& source) {
  ReadResult out;
  Reader(source, out).run();
  return out;
}

ReadResult readBgl(std::string_view bytes) {
  MemorySource source(bytes);
  return readBgl(source);
}

ReadResult readBglFile(const fs::path& path) {
  try {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    std::ifstream in(path, std::ios::binary);
    if (ec || !in) {
      ReadResult out;
      out.problems.push_back(fmt::format("cannot be opened{}", ec ? ": " + ec.message() : std::string()));
      return out;
    }
    FileSource source(in, size);
    return readBgl(source);
  } catch (const std::exception& e) {
    ReadResult out;
    out.problems.push_back(fmt::format("cannot be read: {}", e.what()));
    return out;
  }
}

}  // namespace kvo::bgl
