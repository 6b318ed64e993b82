#include "settings/portable/Base64.h"

#include <cstdlib>
#include <cstring>

namespace {

int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

bool Base64Decode(const char* text, unsigned char** out, size_t* outLen) {
  if (text == nullptr || out == nullptr || outLen == nullptr) return false;
  const size_t len = std::strlen(text);
  if (len % 4 != 0) return false;

  size_t padding = 0;
  if (std::strstr(text, "==") != nullptr)
    padding = 2;
  else if (std::strchr(text, '=') != nullptr)
    padding = 1;
  const size_t n = len / 4 * 3 - (len == 0 ? 0 : padding);

  auto* buffer = static_cast<unsigned char*>(std::calloc(n + 1, 1));
  if (buffer == nullptr) return false;

  // Six bits per character, most significant first; stop once n bytes are complete, so the
  // padding is never looked up and the low bits of the last character are dropped.
  size_t produced = 0;
  unsigned int acc = 0;
  int bits = 0;
  for (size_t i = 0; produced < n; ++i) {
    const int v = Base64Value(static_cast<unsigned char>(text[i]));
    if (v < 0) {
      std::free(buffer);
      return false;
    }
    acc = (acc << 6) | static_cast<unsigned int>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      buffer[produced++] = static_cast<unsigned char>(acc >> bits);
      acc &= (1u << bits) - 1;
    }
  }

  *out = buffer;
  *outLen = n;
  return true;
}

std::string Base64Encode(const unsigned char* data, size_t n) {
  std::string text;
  text.reserve((n + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const unsigned int v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    text.push_back(kAlphabet[(v >> 18) & 63]);
    text.push_back(kAlphabet[(v >> 12) & 63]);
    text.push_back(kAlphabet[(v >> 6) & 63]);
    text.push_back(kAlphabet[v & 63]);
  }
  if (n - i == 1) {
    const unsigned int v = data[i] << 16;
    text.push_back(kAlphabet[(v >> 18) & 63]);
    text.push_back(kAlphabet[(v >> 12) & 63]);
    text += "==";
  } else if (n - i == 2) {
    const unsigned int v = (data[i] << 16) | (data[i + 1] << 8);
    text.push_back(kAlphabet[(v >> 18) & 63]);
    text.push_back(kAlphabet[(v >> 12) & 63]);
    text.push_back(kAlphabet[(v >> 6) & 63]);
    text.push_back('=');
  }
  return text;
}
