#pragma once
// Reading the simulator's messages without trusting them: every record is copied out only when
// the message holds all of it, and every text and field of a data block is read within the
// bytes the message really has.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <type_traits>

#include "platform/simconnect/simconnect.h"

namespace kvo {

// The bytes of the message that may be read: the smaller of the size the dispatcher gave and the
// size the message claims.
inline std::size_t simMessageLength(const SimConnectRecv* message, std::size_t size) {
  if (message == nullptr || size < sizeof(SimConnectRecv)) return 0;
  SimConnectRecv header;
  std::memcpy(&header, message, sizeof header);
  return std::min<std::size_t>(size, header.size);
}

// A copy of the record at the start of the message; none when the message is shorter than it.
template <typename Record>
std::optional<Record> readSimRecord(const SimConnectRecv* message, std::size_t size) {
  static_assert(std::is_trivially_copyable_v<Record>);
  if (simMessageLength(message, size) < sizeof(Record)) return std::nullopt;
  Record record;
  std::memcpy(&record, message, sizeof record);
  return record;
}

// One answer to a data request on an object or by type.
struct SimObjectDataMessage {
  std::uint32_t requestId = 0;
  std::uint32_t objectId = 0;
  std::uint32_t defineId = 0;
  std::uint32_t entryNumber = 0;
  std::uint32_t outOf = 0;
  std::span<const std::uint8_t> data;  // the packed fields, within the message
};

// None when the message is shorter than the fixed part of the record.
inline std::optional<SimObjectDataMessage> readSimObjectData(const SimConnectRecv* message, std::size_t size) {
  const std::size_t length = simMessageLength(message, size);
  if (length < kSimObjectDataOffset) return std::nullopt;
  SimConnectRecvSimObjectData fixed;
  std::memcpy(&fixed, message, kSimObjectDataOffset);
  SimObjectDataMessage out;
  out.requestId = fixed.requestId;
  out.objectId = fixed.objectId;
  out.defineId = fixed.defineId;
  out.entryNumber = fixed.entryNumber;
  out.outOf = fixed.outOf;
  out.data = std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(message) + kSimObjectDataOffset,
                                           length - kSimObjectDataOffset);
  return out;
}

// A field of the data block; none when the block is too short for it.
template <typename T>
std::optional<T> readSimField(std::span<const std::uint8_t> data, std::size_t offset) {
  static_assert(std::is_trivially_copyable_v<T>);
  if (offset > data.size() || data.size() - offset < sizeof(T)) return std::nullopt;
  T value;
  std::memcpy(&value, data.data() + offset, sizeof value);
  return value;
}

// A text of the data block: up to its terminator or the end of the bytes given, whichever comes
// first (a fixed field of 32 bytes may be filled without a terminator).
inline std::string simText(std::span<const std::uint8_t> bytes) {
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  return std::string(bytes.begin(), end);
}

// A text held in a fixed char array of a record.
template <std::size_t N>
std::string simText(const char (&array)[N]) {
  return simText(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(array), N));
}

}  // namespace kvo
