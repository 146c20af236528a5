#include "aircraft/data_crypto.h"

#include <algorithm>
#include <mutex>

#include <sodium.h>

static_assert(crypto_secretstream_xchacha20poly1305_KEYBYTES == kDataKeyBytes);
static_assert(crypto_secretstream_xchacha20poly1305_HEADERBYTES == kDataHeaderBytes);
static_assert(crypto_secretstream_xchacha20poly1305_ABYTES == kDataChunkExtraBytes);

namespace {

void initSodium() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (sodium_init() < 0) throw std::runtime_error("libsodium could not be initialised");
  });
}

}  // namespace

const DataFileKey& builtInDataKey() {
  // Ships inside the program: it keeps the data files from casual editing and lets a damaged
  // file be told from a good one; it is no secret from someone who takes the program apart.
  static const DataFileKey key{0xcd, 0x8f, 0x65, 0x49, 0x1c, 0xf4, 0x4f, 0xca, 0xc2, 0xaf, 0xc5,
                               0xe2, 0x98, 0xf5, 0x00, 0x64, 0x34, 0x99, 0x43, 0x05, 0x87, 0xc5,
                               0x90, 0x1c, 0xe2, 0x5c, 0x03, 0x48, 0x18, 0x41, 0x9e, 0x76};
  return key;
}

std::string gf_streamDecrypt(std::span<const std::uint8_t> encrypted, const DataFileKey& key) {
  initSodium();
  if (encrypted.size() < kDataHeaderBytes + kDataChunkExtraBytes) {
    throw DataDecryptError("file too short to be an encrypted data file");
  }
  crypto_secretstream_xchacha20poly1305_state state;
  if (crypto_secretstream_xchacha20poly1305_init_pull(&state, encrypted.data(), key.data()) != 0) {
    throw DataDecryptError("invalid stream header");
  }
  std::string plain;
  plain.reserve(encrypted.size());
  std::vector<unsigned char> chunk(kDataChunkPlainBytes);
  std::size_t pos = kDataHeaderBytes;
  bool final = false;
  while (pos < encrypted.size()) {
    if (final) throw DataDecryptError("extra bytes after the final chunk");
    const std::size_t cipherLength =
        std::min(kDataChunkPlainBytes + kDataChunkExtraBytes, encrypted.size() - pos);
    if (cipherLength < kDataChunkExtraBytes) throw DataDecryptError("truncated chunk");
    unsigned long long plainLength = 0;
    unsigned char tag = 0;
    if (crypto_secretstream_xchacha20poly1305_pull(&state, chunk.data(), &plainLength, &tag,
                                                   encrypted.data() + pos, cipherLength, nullptr,
                                                   0) != 0) {
      throw DataDecryptError("authentication failed (damaged file or wrong key)");
    }
    plain.append(reinterpret_cast<const char*>(chunk.data()), static_cast<std::size_t>(plainLength));
    pos += cipherLength;
    final = tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL;
  }
  sodium_memzero(&state, sizeof state);
  if (!final) throw DataDecryptError("the file ends before its final chunk (truncated)");
  return plain;
}

std::vector<std::uint8_t> gf_streamEncrypt(std::string_view plain, const DataFileKey& key) {
  initSodium();
  std::vector<std::uint8_t> out(kDataHeaderBytes);
  crypto_secretstream_xchacha20poly1305_state state;
  crypto_secretstream_xchacha20poly1305_init_push(&state, out.data(), key.data());
  std::size_t pos = 0;
  // An empty text still gets one (empty) final chunk.
  do {
    const std::size_t length = std::min(kDataChunkPlainBytes, plain.size() - pos);
    const bool last = pos + length >= plain.size();
    const std::size_t start = out.size();
    out.resize(start + length + kDataChunkExtraBytes);
    unsigned long long written = 0;
    crypto_secretstream_xchacha20poly1305_push(
        &state, out.data() + start, &written, reinterpret_cast<const unsigned char*>(plain.data()) + pos,
        length, nullptr, 0,
        last ? crypto_secretstream_xchacha20poly1305_TAG_FINAL : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
    out.resize(start + static_cast<std::size_t>(written));
    pos += length;
  } while (pos < plain.size());
  sodium_memzero(&state, sizeof state);
  return out;
}
