// Fuzzes the base64 decoder and the stored settings value decoder.
#include "settings/portable/Base64.h"
#include "settings/portable/SettingCodec.h"
#include "tests/fuzz/FuzzText.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const unsigned char kKey[16] = {'0', '1', '2', '3', '4', '5', '6', '7',
                                '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

int AlphabetValue(char c) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const char* p = std::strchr(kAlphabet, c);
  return (c != '\0' && p != nullptr) ? static_cast<int>(p - kAlphabet) : -1;
}

void CheckBase64(const std::string& text) {
  unsigned char* out = reinterpret_cast<unsigned char*>(&out);  // sentinel: must stay untouched
  size_t outLen = 777;
  if (!Base64Decode(text.c_str(), &out, &outLen)) {
    FUZZ_CHECK(out == reinterpret_cast<unsigned char*>(&out) && outLen == 777);
    return;
  }
  FUZZ_CHECK(out != nullptr);
  FUZZ_CHECK(out[outLen] == 0);
  const std::string bytes(reinterpret_cast<const char*>(out), outLen);
  std::free(out);

  // Accepted text is always a whole number of quads with correct padding, so re-encoding
  // reproduces it exactly except the low bits of the last data character that decoding drops.
  const std::string again = Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  FUZZ_CHECK(again.size() == text.size());
  const size_t pad = text.empty() ? 0 : (text.back() == '=' ? (text[text.size() - 2] == '=' ? 2 : 1) : 0);
  for (size_t i = 0; i < text.size(); ++i) {
    if (pad != 0 && i == text.size() - pad - 1) {
      const int dropped = pad == 1 ? 2 : 4;
      const int a = AlphabetValue(text[i]), b = AlphabetValue(again[i]);
      FUZZ_CHECK(a >= 0 && b >= 0);
      FUZZ_CHECK((a >> dropped) == (b >> dropped));
      FUZZ_CHECK((b & ((1 << dropped) - 1)) == 0);
    } else {
      FUZZ_CHECK(text[i] == again[i]);
    }
  }

  unsigned char* round = nullptr;
  size_t roundLen = 0;
  FUZZ_CHECK(Base64Decode(again.c_str(), &round, &roundLen));
  FUZZ_CHECK(roundLen == bytes.size() && std::memcmp(round, bytes.data(), roundLen) == 0);
  std::free(round);
}

void CheckSetting(const std::string& text) {
  std::string plain = "untouched";
  if (!DecodeSettingBytes(text.c_str(), kKey, plain)) {
    FUZZ_CHECK(plain == "untouched");
    return;
  }
  FUZZ_CHECK(plain.find('\0') == std::string::npos);
  // Text without zero bytes survives a round trip through the stored form.
  std::string back = "x";
  FUZZ_CHECK(DecodeSettingBytes(EncodeSettingBytes(plain, kKey).c_str(), kKey, back));
  FUZZ_CHECK(back == plain);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The decoders read C strings: stop at the first zero byte as they would.
  std::string text(reinterpret_cast<const char*>(data), size);
  text.resize(std::strlen(text.c_str()));
  CheckBase64(text);
  CheckSetting(text);
  return 0;
}
