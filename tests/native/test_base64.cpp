#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "settings/portable/Base64.h"

namespace {

struct Decoded {
  bool ok;
  std::string bytes;
};

Decoded Decode(const char* text) {
  unsigned char* out = reinterpret_cast<unsigned char*>(0x1);  // must stay untouched on failure
  size_t length = 12345;
  if (!Base64Decode(text, &out, &length)) {
    EXPECT_EQ(out, reinterpret_cast<unsigned char*>(0x1));
    EXPECT_EQ(length, 12345u);
    return {false, {}};
  }
  EXPECT_EQ(out[length], 0) << "a zero byte must follow the data";
  Decoded d{true, std::string(reinterpret_cast<char*>(out), length)};
  std::free(out);
  return d;
}

TEST(Base64, Rfc4648VectorsBothWays) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : vectors) {
    const std::string p = plain;
    EXPECT_EQ(Base64Encode(reinterpret_cast<const unsigned char*>(p.data()), p.size()), encoded);
    const Decoded d = Decode(encoded);
    EXPECT_TRUE(d.ok) << encoded;
    EXPECT_EQ(d.bytes, p) << encoded;
  }
}

TEST(Base64, RandomBytesRoundTripOverTheWholeAlphabet) {
  std::mt19937 rng(99);
  for (size_t n = 0; n < 200; ++n) {
    std::vector<unsigned char> data(n);
    for (auto& b : data) b = static_cast<unsigned char>(rng());
    const std::string text = Base64Encode(data.data(), data.size());
    EXPECT_EQ(text.size() % 4, 0u);
    const Decoded d = Decode(text.c_str());
    ASSERT_TRUE(d.ok) << text;
    EXPECT_EQ(d.bytes, std::string(data.begin(), data.end()));
  }
}

TEST(Base64, RejectsWhatTheStoredFormNeverHolds) {
  const char* bad[] = {
      "Zg=",          // length not a multiple of 4
      "Zm9vY",        // likewise
      "Zm9 ",         // space
      "Zm9v\nZm9",    // line break
      "Zm\r\nZm9v",   // CR LF, length 8
      "Zg==Zm9v",     // padding in the middle
      "Z=9v",         // single "=" in the middle
      "====",         // padding only
      "Zm9v\xC3\xA9Zm",  // bytes of 0x80 and above
      "Zm-v",         // URL-safe alphabet is not accepted
  };
  for (const char* text : bad) EXPECT_FALSE(Decode(text).ok) << text;
  unsigned char* out = nullptr;
  size_t length = 0;
  EXPECT_FALSE(Base64Decode(nullptr, &out, &length));
}

}  // namespace
