#include "settings/portable/SettingCodec.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "settings/portable/Aes.h"
#include "settings/portable/Base64.h"

bool DecodeSettingBytes(const char* storedText, const unsigned char key[16], std::string& plain8) {
  if (storedText == nullptr) return false;
  if (*storedText == '\0') {
    plain8.clear();
    return true;
  }
  unsigned char* data = nullptr;
  size_t length = 0;
  if (!Base64Decode(storedText, &data, &length)) return false;
  // Deciphering needs a whole block; a shorter value reads as undecodable.
  if (length < 16) {
    std::free(data);
    return false;
  }
  AES aes(key);
  aes.DecryptBlock(data);
  // Base64Decode leaves a zero byte after the data, so the text always ends inside the buffer.
  plain8.assign(reinterpret_cast<const char*>(data), std::strlen(reinterpret_cast<const char*>(data)));
  std::free(data);
  return true;
}

std::string EncodeSettingBytes(const std::string& plain8, const unsigned char key[16]) {
  if (plain8.empty()) return std::string();
  std::string bytes = plain8;
  const size_t padded = (bytes.size() + 15) / 16 * 16;
  bytes.resize(padded, '\0');
  AesEncryptBlock(key, reinterpret_cast<unsigned char*>(bytes.data()));
  return Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

bool SettingKeyFromChecksumText(const std::wstring& md5Text, unsigned char key[16]) {
  if (md5Text.size() < 16) return false;
  for (size_t i = 0; i < 16; ++i) {
    const auto unit = static_cast<uint32_t>(md5Text[i]);
    if (unit == 0 || unit > 0x7f) return false;
  }
  for (size_t i = 0; i < 16; ++i) key[i] = static_cast<unsigned char>(md5Text[i]);
  return true;
}
