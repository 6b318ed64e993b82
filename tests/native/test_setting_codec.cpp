#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "settings/portable/Aes.h"
#include "settings/portable/Base64.h"
#include "settings/portable/Md5.h"
#include "settings/portable/SettingCodec.h"

namespace {

class SettingCodecTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The key comes from a module's checksum text, as in a real package.
    CMD5Checksum md5;
    const char module[] = "MZ pretend payload module";
    md5.AddData(reinterpret_cast<const unsigned char*>(module), sizeof module - 1);
    checksum_ = md5.Finish();
    ASSERT_TRUE(SettingKeyFromChecksumText(checksum_, key_));
  }

  // Builds a stored value by hand: bytes as given, first block enciphered, base64.
  std::string Store(std::string bytes) const {
    AesEncryptBlock(key_, reinterpret_cast<unsigned char*>(bytes.data()));
    return Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  }

  std::wstring checksum_;
  unsigned char key_[16];
};

TEST_F(SettingCodecTest, KeyIsTheFirstSixteenChecksumCharacters) {
  EXPECT_EQ(0, std::memcmp(key_, std::string(checksum_.begin(), checksum_.begin() + 16).data(), 16));
  unsigned char key[16] = {};
  EXPECT_FALSE(SettingKeyFromChecksumText(L"", key));
  EXPECT_FALSE(SettingKeyFromChecksumText(L"0123456789ABCDE", key));   // 15 characters
  EXPECT_FALSE(SettingKeyFromChecksumText(L"0123456789ABCD\u00C9F", key));  // not ASCII
  for (unsigned char b : key) EXPECT_EQ(b, 0);
  EXPECT_TRUE(SettingKeyFromChecksumText(L"0123456789ABCDEF", key));
  EXPECT_EQ(0, std::memcmp(key, "0123456789ABCDEF", 16));
}

TEST_F(SettingCodecTest, OneBlockValue) {
  const std::string stored = Store(std::string("1") + std::string(15, '\0'));
  ASSERT_EQ(stored.size(), 24u);
  EXPECT_EQ(stored.substr(22), "==");
  std::string plain = "previous";
  ASSERT_TRUE(DecodeSettingBytes(stored.c_str(), key_, plain));
  EXPECT_EQ(plain, "1");
  EXPECT_EQ(EncodeSettingBytes("1", key_), stored);
}

TEST_F(SettingCodecTest, TwoBlockValueHasOnlyItsFirstBlockEnciphered) {
  // 32 bytes: 16 characters in the enciphered block, "tail" in the plain second block.
  const std::string bytes = std::string("ABCDEFGHIJKLMNOP") + "tail" + std::string(12, '\0');
  const std::string stored = Store(bytes);
  ASSERT_EQ(stored.size(), 44u);
  EXPECT_EQ(stored.back(), '=');
  EXPECT_NE(stored.substr(42, 1), "=");
  std::string plain;
  ASSERT_TRUE(DecodeSettingBytes(stored.c_str(), key_, plain));
  EXPECT_EQ(plain, "ABCDEFGHIJKLMNOPtail");

  // The encoder writes the same form: the second block appears as it is.
  const std::string encoded = EncodeSettingBytes("ABCDEFGHIJKLMNOPtail", key_);
  EXPECT_EQ(encoded, stored);
  unsigned char* raw = nullptr;
  size_t length = 0;
  ASSERT_TRUE(Base64Decode(encoded.c_str(), &raw, &length));
  ASSERT_EQ(length, 32u);
  EXPECT_EQ(0, std::memcmp(raw + 16, "tail\0\0\0\0\0\0\0\0\0\0\0\0", 16));
  EXPECT_NE(0, std::memcmp(raw, "ABCDEFGHIJKLMNOP", 16));
  std::free(raw);
}

TEST_F(SettingCodecTest, TextEndsAtTheFirstZeroByte) {
  const std::string stored = Store(std::string("ab\0cd", 5) + std::string(11, '\0') + "second block....");
  std::string plain;
  ASSERT_TRUE(DecodeSettingBytes(stored.c_str(), key_, plain));
  EXPECT_EQ(plain, "ab");
}

TEST_F(SettingCodecTest, SixteenCharactersEndAtTheDecodersExtraZero) {
  const std::string value = "/quiet /norestar";  // exactly 16
  const std::string stored = EncodeSettingBytes(value, key_);
  EXPECT_EQ(stored.size(), 24u);  // no padding block
  std::string plain;
  ASSERT_TRUE(DecodeSettingBytes(stored.c_str(), key_, plain));
  EXPECT_EQ(plain, value);
}

TEST_F(SettingCodecTest, RoundTripsEveryLength) {
  std::string value;
  for (int n = 1; n <= 100; ++n) {
    value.push_back(static_cast<char>('!' + n % 90));
    const std::string stored = EncodeSettingBytes(value, key_);
    const size_t padded = (value.size() + 15) / 16 * 16;
    EXPECT_EQ(stored.size(), (padded + 2) / 3 * 4);
    std::string plain;
    ASSERT_TRUE(DecodeSettingBytes(stored.c_str(), key_, plain)) << n;
    EXPECT_EQ(plain, value);
  }
}

TEST_F(SettingCodecTest, EmptyStaysEmpty) {
  EXPECT_EQ(EncodeSettingBytes("", key_), "");
  std::string plain = "previous";
  EXPECT_TRUE(DecodeSettingBytes("", key_, plain));
  EXPECT_EQ(plain, "");
}

TEST_F(SettingCodecTest, UndecodableValuesFailAndLeaveTheOutputAlone) {
  const std::string good = EncodeSettingBytes("value", key_);
  const std::string cases[] = {
      good.substr(0, 23),                       // 23 characters
      good + "A",                               // 25 characters
      good.substr(0, 10) + " " + good.substr(11),  // a space
      good.substr(0, 10) + "\n" + good.substr(11),  // a line break
      "QUJD",                                   // 3 bytes: shorter than one block
      "QUJDREVGR0hJSktMTU5P",                   // 15 bytes
  };
  for (const std::string& stored : cases) {
    std::string plain = "previous";
    EXPECT_FALSE(DecodeSettingBytes(stored.c_str(), key_, plain)) << stored;
    EXPECT_EQ(plain, "previous") << stored;
  }
  std::string plain = "previous";
  EXPECT_FALSE(DecodeSettingBytes(nullptr, key_, plain));
}

TEST_F(SettingCodecTest, AnotherModuleGivesAnotherText) {
  const std::string stored = EncodeSettingBytes("ParamManual text", key_);
  unsigned char otherKey[16];
  ASSERT_TRUE(SettingKeyFromChecksumText(L"D41D8CD98F00B204E9800998ECF8427E", otherKey));
  std::string plain;
  ASSERT_TRUE(DecodeSettingBytes(stored.c_str(), otherKey, plain));
  EXPECT_NE(plain, "ParamManual text");
}

}  // namespace
