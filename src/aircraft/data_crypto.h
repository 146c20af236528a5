#pragma once
// The encrypted data files (input\dbase.enc, input\AIG-regcodes.enc): an XChaCha20-Poly1305
// secret stream under one built-in key. The file is the 24-byte stream header followed by one
// encrypted chunk per 4096 plain bytes (each 17 bytes longer than its plain text); the last
// chunk carries the FINAL tag, so a truncated file is recognised. No other dependency than
// libsodium: the encryption tool compiles this file on its own.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t kDataKeyBytes = 32;
inline constexpr std::size_t kDataHeaderBytes = 24;
inline constexpr std::size_t kDataChunkPlainBytes = 4096;
inline constexpr std::size_t kDataChunkExtraBytes = 17;  // tag byte + authentication code

using DataFileKey = std::array<std::uint8_t, kDataKeyBytes>;

// The key built into the program; the encryption tool uses the same one.
const DataFileKey& builtInDataKey();

// Why a stream could not be decrypted.
class DataDecryptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The plain bytes of an encrypted stream. Throws DataDecryptError for a stream that is too short,
// damaged, tampered with, cut off before its final chunk, followed by extra bytes, or made with
// another key.
std::string gf_streamDecrypt(std::span<const std::uint8_t> encrypted, const DataFileKey& key);
// The encrypted form of the plain bytes (a fresh random stream header every call).
std::vector<std::uint8_t> gf_streamEncrypt(std::string_view plain, const DataFileKey& key);
