#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cwchar>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "settings/portable/Md5.h"

namespace {

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::wstring Upper(std::string hex) {
  for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return Widen(hex);
}

std::wstring DigestText(const std::vector<unsigned char>& data, size_t piece) {
  CMD5Checksum md5;
  for (size_t pos = 0; pos < data.size(); pos += piece) {
    const size_t n = std::min(piece, data.size() - pos);
    md5.AddData(data.data() + pos, static_cast<uint32_t>(n));
  }
  return md5.Finish();
}

std::vector<unsigned char> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<unsigned char> data(n);
  for (auto& b : data) b = static_cast<unsigned char>(rng());
  return data;
}

TEST(Md5, Rfc1321TestSuiteInUpperCase) {
  const std::pair<const char*, const char*> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [message, digest] : suite) {
    CMD5Checksum md5;
    md5.AddData(reinterpret_cast<const unsigned char*>(message), static_cast<uint32_t>(std::strlen(message)));
    const std::wstring text = md5.Finish();
    EXPECT_EQ(text, Upper(digest)) << message;
    EXPECT_EQ(text.size(), 32u);
  }
}

TEST(Md5, RawDigestMatchesText) {
  // The digest of "a" starts 0C C1 and holds 0x0C, so "0C" (not "C") shows the zero-padding.
  CMD5Checksum a, b;
  const unsigned char msg[] = {'a'};
  a.AddData(msg, 1);
  b.AddData(msg, 1);
  unsigned char raw[16];
  a.FinishDigest(raw);
  const std::wstring text = b.Finish();
  wchar_t expected[33];
  for (int i = 0; i < 16; ++i) std::swprintf(expected + 2 * i, 3, L"%02X", raw[i]);
  EXPECT_EQ(text, std::wstring(expected));
  EXPECT_EQ(raw[0], 0x0C);
}

TEST(Md5, PiecesGiveTheSameDigestAsOneShot) {
  // 1024 and 1025 are the file reader's piece size and one more; the rest sit around the
  // 56- and 64-byte boundaries of padding and blocks.
  for (size_t size : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 127u, 128u, 1023u, 1024u, 1025u, 4097u}) {
    const auto data = RandomBytes(size, static_cast<unsigned>(size));
    const std::wstring oneShot = DigestText(data, size == 0 ? 1 : size);
    for (size_t piece : {1u, 7u, 63u, 64u, 65u, 1024u})
      EXPECT_EQ(DigestText(data, piece), oneShot) << "size " << size << " piece " << piece;
  }
}

// md5sum as a second opinion over the padding boundaries and the sizes the file reader meets.
TEST(Md5, AgreesWithMd5sum) {
  if (std::system("command -v md5sum >/dev/null 2>&1") != 0) GTEST_SKIP() << "md5sum not installed";
  char dirTemplate[] = "/tmp/tessel_md5_XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  const std::string dir = dirTemplate;

  std::map<std::string, std::wstring> ours;
  std::vector<size_t> sizes;
  for (size_t s = 0; s <= 130; ++s) sizes.push_back(s);
  for (size_t s : {1024u, 1025u, 2048u, 65536u, 65537u, 1000003u}) sizes.push_back(s);
  for (size_t size : sizes) {
    const auto data = RandomBytes(size, static_cast<unsigned>(size * 31 + 7));
    const std::string name = "f" + std::to_string(size);
    std::ofstream(dir + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                            static_cast<std::streamsize>(data.size()));
    ours[name] = DigestText(data, 1024);
  }

  FILE* pipe = popen(("cd " + dir + " && md5sum f*").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[256];
  size_t checked = 0;
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text(line);
    ASSERT_GT(text.size(), 35u);
    const std::string digest = text.substr(0, 32);
    std::string name = text.substr(34);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    ASSERT_EQ(ours.count(name), 1u) << name;
    EXPECT_EQ(ours[name], Upper(digest)) << name;
    ++checked;
  }
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_EQ(checked, sizes.size());
  std::filesystem::remove_all(dir);
}

}  // namespace
