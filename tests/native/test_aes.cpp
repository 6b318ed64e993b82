#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>

#include "settings/portable/Aes.h"

namespace {

std::array<unsigned char, 16> Hex16(const char* hex) {
  std::array<unsigned char, 16> out{};
  for (size_t i = 0; i < 16; ++i) out[i] = static_cast<unsigned char>(std::stoi(std::string(hex + 2 * i, 2), nullptr, 16));
  return out;
}

struct KnownAnswer {
  const char* key;
  const char* plain;
  const char* cipher;
};

// FIPS-197 Appendix C.1 (AES-128) and Appendix B.
const KnownAnswer kVectors[] = {
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734", "3925841d02dc09fbdc118597196a0b32"},
};

TEST(Aes, KnownAnswersBothWays) {
  for (const KnownAnswer& v : kVectors) {
    const auto key = Hex16(v.key);
    auto block = Hex16(v.cipher);
    AES aes(key.data());
    EXPECT_EQ(aes.DecryptBlock(block.data()), block.data());
    EXPECT_EQ(block, Hex16(v.plain)) << v.key;

    auto forward = Hex16(v.plain);
    AesEncryptBlock(key.data(), forward.data());
    EXPECT_EQ(forward, Hex16(v.cipher)) << v.key;
  }
}

TEST(Aes, TouchesOnlyTheFirstBlockAndKeepsNoState) {
  const auto key = Hex16(kVectors[0].key);
  const auto cipher = Hex16(kVectors[0].cipher);
  unsigned char buffer[40];
  for (size_t i = 0; i < sizeof buffer; ++i) buffer[i] = static_cast<unsigned char>(0xA0 + i);
  std::memcpy(buffer + 8, cipher.data(), 16);

  AES aes(key.data());
  aes.DecryptBlock(buffer + 8);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(buffer[i], 0xA0 + i);
  for (size_t i = 24; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 0xA0 + i);
  EXPECT_EQ(0, std::memcmp(buffer + 8, Hex16(kVectors[0].plain).data(), 16));

  // The same object deciphers the same ciphertext the same way again.
  std::memcpy(buffer + 8, cipher.data(), 16);
  aes.DecryptBlock(buffer + 8);
  EXPECT_EQ(0, std::memcmp(buffer + 8, Hex16(kVectors[0].plain).data(), 16));
}

TEST(Aes, OnlyTheFirstSixteenKeyBytesCount) {
  const char* longKey1 = "0123456789ABCDEF-first tail";
  const char* longKey2 = "0123456789ABCDEF+another, longer tail";
  unsigned char a[16], b[16];
  for (int i = 0; i < 16; ++i) a[i] = b[i] = static_cast<unsigned char>(i * 17);
  AES(reinterpret_cast<const unsigned char*>(longKey1)).DecryptBlock(a);
  AES(reinterpret_cast<const unsigned char*>(longKey2)).DecryptBlock(b);
  EXPECT_EQ(0, std::memcmp(a, b, 16));
}

TEST(Aes, DecryptInvertsEncryptForManyKeys) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 500; ++round) {
    unsigned char key[16], plain[16], block[16];
    for (auto& k : key) k = static_cast<unsigned char>(rng());
    for (auto& p : plain) p = static_cast<unsigned char>(rng());
    std::memcpy(block, plain, 16);
    AesEncryptBlock(key, block);
    EXPECT_NE(0, std::memcmp(block, plain, 16));
    AES(key).DecryptBlock(block);
    ASSERT_EQ(0, std::memcmp(block, plain, 16)) << "round " << round;
  }
}

}  // namespace
