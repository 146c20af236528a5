#include <gtest/gtest.h>

#include <sodium.h>

#include <random>

#include "aircraft/data_crypto.h"

namespace {

std::string patternText(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + (i * 7) % 26);
  return s;
}

std::string decrypt(const std::vector<std::uint8_t>& bytes, const DataFileKey& key = builtInDataKey()) {
  return gf_streamDecrypt(std::span(bytes.data(), bytes.size()), key);
}

class CryptoRoundTrip : public ::testing::TestWithParam<std::size_t> {};

TEST_P(CryptoRoundTrip, GivesThePlainTextBackAtEveryChunkBoundary) {
  const std::string plain = patternText(GetParam());
  const auto encrypted = gf_streamEncrypt(plain, builtInDataKey());
  const std::size_t chunks = plain.empty() ? 1 : (plain.size() + kDataChunkPlainBytes - 1) / kDataChunkPlainBytes;
  EXPECT_EQ(encrypted.size(), kDataHeaderBytes + plain.size() + chunks * kDataChunkExtraBytes);
  EXPECT_EQ(decrypt(encrypted), plain);
}

INSTANTIATE_TEST_SUITE_P(Sizes, CryptoRoundTrip, ::testing::Values(0u, 1u, 4095u, 4096u, 4097u, 8192u, 10000u));

TEST(DataCrypto, EveryFlippedByteIsRefused) {
  const auto good = gf_streamEncrypt(patternText(9000), builtInDataKey());
  // Header, first chunk, a chunk boundary, the last chunk and its very last byte.
  for (std::size_t pos : {std::size_t{0}, std::size_t{23}, std::size_t{24}, std::size_t{100},
                          kDataHeaderBytes + kDataChunkPlainBytes + kDataChunkExtraBytes, good.size() - 1}) {
    auto bad = good;
    bad[pos] ^= 0x01;
    EXPECT_THROW(decrypt(bad), DataDecryptError) << "flipped byte " << pos;
  }
}

TEST(DataCrypto, ATruncatedOrExtendedStreamIsRefused) {
  const auto good = gf_streamEncrypt(patternText(9000), builtInDataKey());
  const std::size_t fullChunk = kDataChunkPlainBytes + kDataChunkExtraBytes;
  // Cut exactly after the second chunk: every chunk left is whole and authentic, but the final
  // one is missing.
  std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<long>(kDataHeaderBytes + 2 * fullChunk));
  EXPECT_THROW(decrypt(cut), DataDecryptError);
  std::vector<std::uint8_t> midChunk(good.begin(), good.end() - 5);
  EXPECT_THROW(decrypt(midChunk), DataDecryptError);
  std::vector<std::uint8_t> extended = good;
  extended.push_back(0);
  EXPECT_THROW(decrypt(extended), DataDecryptError);
  EXPECT_THROW(decrypt(std::vector<std::uint8_t>(good.begin(), good.begin() + 10)), DataDecryptError);
}

// Authentic chunks after the final one (a stream that goes on past its end) are refused too.
TEST(DataCrypto, ChunksAfterTheFinalOneAreRefused) {
  std::vector<std::uint8_t> out(kDataHeaderBytes);
  crypto_secretstream_xchacha20poly1305_state state;
  crypto_secretstream_xchacha20poly1305_init_push(&state, out.data(), builtInDataKey().data());
  const std::string plain = patternText(kDataChunkPlainBytes);
  for (const unsigned char tag : {crypto_secretstream_xchacha20poly1305_TAG_FINAL, crypto_secretstream_xchacha20poly1305_TAG_MESSAGE}) {
    std::vector<std::uint8_t> chunk(plain.size() + kDataChunkExtraBytes);
    crypto_secretstream_xchacha20poly1305_push(&state, chunk.data(), nullptr, reinterpret_cast<const unsigned char*>(plain.data()),
                                               plain.size(), nullptr, 0, tag);
    out.insert(out.end(), chunk.begin(), chunk.end());
  }
  try {
    decrypt(out);
    ADD_FAILURE() << "taken";
  } catch (const DataDecryptError& e) {
    EXPECT_STREQ(e.what(), "extra bytes after the final chunk");
  }
}

TEST(DataCrypto, AnotherKeyIsRefusedAndEachEncryptionDiffers) {
  const auto a = gf_streamEncrypt("plain", builtInDataKey());
  const auto b = gf_streamEncrypt("plain", builtInDataKey());
  EXPECT_NE(a, b);  // a fresh stream header each time
  DataFileKey other = builtInDataKey();
  other[31] ^= 0x80;
  EXPECT_THROW(decrypt(a, other), DataDecryptError);
  EXPECT_EQ(decrypt(b), "plain");
}

}  // namespace
