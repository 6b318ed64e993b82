#include "settings/portable/Md5.h"

#include <bit>
#include <cstring>

namespace {

inline uint32_t LoadLe32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}

inline void StoreLe32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Same truth tables as RFC 1321. The message word and constant are added first, off the
// critical path through b, c, d; G is added as its two disjoint halves for the same reason.
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, x, s, t) \
  (a) += (x) + (t);                      \
  (a) += f((b), (c), (d));               \
  (a) = Rotl((a), (s)) + (b)
#define MD5_STEP_G(a, b, c, d, x, s, t) \
  (a) += (x) + (t);                     \
  (a) += ~(d) & (c);                    \
  (a) += (d) & (b);                     \
  (a) = Rotl((a), (s)) + (b)

}  // namespace

CMD5Checksum::CMD5Checksum() {
  std::memset(m_abBuffer, 0, sizeof m_abBuffer);
  m_adwCount[0] = m_adwCount[1] = 0;
  m_adwState[0] = 0x67452301u;
  m_adwState[1] = 0xefcdab89u;
  m_adwState[2] = 0x98badcfeu;
  m_adwState[3] = 0x10325476u;
}

CMD5Checksum::~CMD5Checksum() = default;

void CMD5Checksum::ProcessBlock(const unsigned char block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLe32(block + 4 * i);
  uint32_t a = m_adwState[0], b = m_adwState[1], c = m_adwState[2], d = m_adwState[3];

  MD5_STEP(MD5_F, a, b, c, d, x[0], 7, 0xd76aa478u);
  MD5_STEP(MD5_F, d, a, b, c, x[1], 12, 0xe8c7b756u);
  MD5_STEP(MD5_F, c, d, a, b, x[2], 17, 0x242070dbu);
  MD5_STEP(MD5_F, b, c, d, a, x[3], 22, 0xc1bdceeeu);
  MD5_STEP(MD5_F, a, b, c, d, x[4], 7, 0xf57c0fafu);
  MD5_STEP(MD5_F, d, a, b, c, x[5], 12, 0x4787c62au);
  MD5_STEP(MD5_F, c, d, a, b, x[6], 17, 0xa8304613u);
  MD5_STEP(MD5_F, b, c, d, a, x[7], 22, 0xfd469501u);
  MD5_STEP(MD5_F, a, b, c, d, x[8], 7, 0x698098d8u);
  MD5_STEP(MD5_F, d, a, b, c, x[9], 12, 0x8b44f7afu);
  MD5_STEP(MD5_F, c, d, a, b, x[10], 17, 0xffff5bb1u);
  MD5_STEP(MD5_F, b, c, d, a, x[11], 22, 0x895cd7beu);
  MD5_STEP(MD5_F, a, b, c, d, x[12], 7, 0x6b901122u);
  MD5_STEP(MD5_F, d, a, b, c, x[13], 12, 0xfd987193u);
  MD5_STEP(MD5_F, c, d, a, b, x[14], 17, 0xa679438eu);
  MD5_STEP(MD5_F, b, c, d, a, x[15], 22, 0x49b40821u);

  MD5_STEP_G(a, b, c, d, x[1], 5, 0xf61e2562u);
  MD5_STEP_G(d, a, b, c, x[6], 9, 0xc040b340u);
  MD5_STEP_G(c, d, a, b, x[11], 14, 0x265e5a51u);
  MD5_STEP_G(b, c, d, a, x[0], 20, 0xe9b6c7aau);
  MD5_STEP_G(a, b, c, d, x[5], 5, 0xd62f105du);
  MD5_STEP_G(d, a, b, c, x[10], 9, 0x02441453u);
  MD5_STEP_G(c, d, a, b, x[15], 14, 0xd8a1e681u);
  MD5_STEP_G(b, c, d, a, x[4], 20, 0xe7d3fbc8u);
  MD5_STEP_G(a, b, c, d, x[9], 5, 0x21e1cde6u);
  MD5_STEP_G(d, a, b, c, x[14], 9, 0xc33707d6u);
  MD5_STEP_G(c, d, a, b, x[3], 14, 0xf4d50d87u);
  MD5_STEP_G(b, c, d, a, x[8], 20, 0x455a14edu);
  MD5_STEP_G(a, b, c, d, x[13], 5, 0xa9e3e905u);
  MD5_STEP_G(d, a, b, c, x[2], 9, 0xfcefa3f8u);
  MD5_STEP_G(c, d, a, b, x[7], 14, 0x676f02d9u);
  MD5_STEP_G(b, c, d, a, x[12], 20, 0x8d2a4c8au);

  MD5_STEP(MD5_H, a, b, c, d, x[5], 4, 0xfffa3942u);
  MD5_STEP(MD5_H, d, a, b, c, x[8], 11, 0x8771f681u);
  MD5_STEP(MD5_H, c, d, a, b, x[11], 16, 0x6d9d6122u);
  MD5_STEP(MD5_H, b, c, d, a, x[14], 23, 0xfde5380cu);
  MD5_STEP(MD5_H, a, b, c, d, x[1], 4, 0xa4beea44u);
  MD5_STEP(MD5_H, d, a, b, c, x[4], 11, 0x4bdecfa9u);
  MD5_STEP(MD5_H, c, d, a, b, x[7], 16, 0xf6bb4b60u);
  MD5_STEP(MD5_H, b, c, d, a, x[10], 23, 0xbebfbc70u);
  MD5_STEP(MD5_H, a, b, c, d, x[13], 4, 0x289b7ec6u);
  MD5_STEP(MD5_H, d, a, b, c, x[0], 11, 0xeaa127fau);
  MD5_STEP(MD5_H, c, d, a, b, x[3], 16, 0xd4ef3085u);
  MD5_STEP(MD5_H, b, c, d, a, x[6], 23, 0x04881d05u);
  MD5_STEP(MD5_H, a, b, c, d, x[9], 4, 0xd9d4d039u);
  MD5_STEP(MD5_H, d, a, b, c, x[12], 11, 0xe6db99e5u);
  MD5_STEP(MD5_H, c, d, a, b, x[15], 16, 0x1fa27cf8u);
  MD5_STEP(MD5_H, b, c, d, a, x[2], 23, 0xc4ac5665u);

  MD5_STEP(MD5_I, a, b, c, d, x[0], 6, 0xf4292244u);
  MD5_STEP(MD5_I, d, a, b, c, x[7], 10, 0x432aff97u);
  MD5_STEP(MD5_I, c, d, a, b, x[14], 15, 0xab9423a7u);
  MD5_STEP(MD5_I, b, c, d, a, x[5], 21, 0xfc93a039u);
  MD5_STEP(MD5_I, a, b, c, d, x[12], 6, 0x655b59c3u);
  MD5_STEP(MD5_I, d, a, b, c, x[3], 10, 0x8f0ccc92u);
  MD5_STEP(MD5_I, c, d, a, b, x[10], 15, 0xffeff47du);
  MD5_STEP(MD5_I, b, c, d, a, x[1], 21, 0x85845dd1u);
  MD5_STEP(MD5_I, a, b, c, d, x[8], 6, 0x6fa87e4fu);
  MD5_STEP(MD5_I, d, a, b, c, x[15], 10, 0xfe2ce6e0u);
  MD5_STEP(MD5_I, c, d, a, b, x[6], 15, 0xa3014314u);
  MD5_STEP(MD5_I, b, c, d, a, x[13], 21, 0x4e0811a1u);
  MD5_STEP(MD5_I, a, b, c, d, x[4], 6, 0xf7537e82u);
  MD5_STEP(MD5_I, d, a, b, c, x[11], 10, 0xbd3af235u);
  MD5_STEP(MD5_I, c, d, a, b, x[2], 15, 0x2ad7d2bbu);
  MD5_STEP(MD5_I, b, c, d, a, x[9], 21, 0xeb86d391u);

  m_adwState[0] += a;
  m_adwState[1] += b;
  m_adwState[2] += c;
  m_adwState[3] += d;
}

void CMD5Checksum::AddData(const unsigned char* data, uint32_t count) {
  uint32_t index = (m_adwCount[0] >> 3) & 0x3f;
  const uint32_t addBits = count << 3;
  m_adwCount[0] += addBits;
  if (m_adwCount[0] < addBits) ++m_adwCount[1];
  m_adwCount[1] += count >> 29;

  const uint32_t partLen = 64 - index;
  uint32_t i = 0;
  if (count >= partLen) {
    if (index != 0) {
      std::memcpy(m_abBuffer + index, data, partLen);
      ProcessBlock(m_abBuffer);
      i = partLen;
    }
    // Whole blocks straight from the caller's bytes.
    for (; i + 63 < count; i += 64) ProcessBlock(data + i);
    index = 0;
  }
  if (count > i) std::memcpy(m_abBuffer + index, data + i, count - i);
}

void CMD5Checksum::FinishDigest(unsigned char out[16]) {
  unsigned char bits[8];
  StoreLe32(bits, m_adwCount[0]);
  StoreLe32(bits + 4, m_adwCount[1]);

  static const unsigned char kPadding[64] = {0x80};
  const uint32_t index = (m_adwCount[0] >> 3) & 0x3f;
  const uint32_t padLen = (index < 56) ? (56 - index) : (120 - index);
  AddData(kPadding, padLen);
  AddData(bits, 8);

  for (int i = 0; i < 4; ++i) StoreLe32(out + 4 * i, m_adwState[i]);
}

std::wstring CMD5Checksum::Finish() {
  unsigned char digest[16];
  FinishDigest(digest);
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring text;
  text.reserve(32);
  for (unsigned char b : digest) {
    text.push_back(kHex[b >> 4]);
    text.push_back(kHex[b & 0x0f]);
  }
  return text;
}

#undef MD5_F
#undef MD5_H
#undef MD5_I
#undef MD5_STEP
#undef MD5_STEP_G
