#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "package/portable/PackageFormat.h"

namespace {

// A file in memory; readLimit simulates a file that delivers fewer bytes than its size claims.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(const std::vector<uint8_t>& bytes, size_t readLimit = SIZE_MAX)
      : m_bytes(bytes), m_limit(std::min(readLimit, bytes.size())) {}
  size_t Read(void* buf, size_t n) override {
    const size_t avail = m_pos < m_limit ? m_limit - m_pos : 0;
    const size_t got = std::min(n, avail);
    if (got != 0) std::memcpy(buf, m_bytes.data() + m_pos, got);
    m_pos += got;
    return got;
  }
  bool Seek(uint64_t pos) override {
    m_pos = static_cast<size_t>(pos);
    return true;
  }
  uint64_t Position() const { return m_pos; }

 private:
  const std::vector<uint8_t>& m_bytes;
  size_t m_limit;
  size_t m_pos = 0;
};

void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The stub as linked: "MZ" 0x0090, a zero slot at 0x20, some image bytes.
std::vector<uint8_t> StubImage(size_t size = 0x200) {
  std::vector<uint8_t> image(size, 0xCC);
  image[0] = 0x4D;
  image[1] = 0x5A;
  image[2] = 0x90;
  image[3] = 0x00;
  PutU32(image, kPackageOffsetSlot, 0);
  return image;
}

uint8_t BodyByte(size_t group, size_t entry, size_t i) {
  return static_cast<uint8_t>(group * 31 + entry * 7 + i * 13 + (i >> 8));
}

// What a packaging tool does: append headers and bodies in extraction order, fill the slot.
std::vector<uint8_t> BuildPackage(const std::vector<PackageGroupLayout>& groups, uint64_t* packageOffset = nullptr) {
  std::vector<uint8_t> file = StubImage();
  const size_t offset = file.size();
  const std::vector<uint8_t> headers = SerializePackageHeaders(groups);
  file.insert(file.end(), headers.begin(), headers.end());
  for (const auto& [g, e] : ExtractionOrder(groups))
    for (size_t i = 0; i < groups[g].entries[e].size; ++i) file.push_back(BodyByte(g, e, i));
  PutU32(file, kPackageOffsetSlot, static_cast<uint32_t>(offset));
  if (packageOffset) *packageOffset = offset;
  return file;
}

struct Walked {
  std::u16string group;
  std::u16string name;
  std::vector<uint8_t> body;
};

// Walks the index as the extraction run does: the primary group first, then the rest of the
// map in order, consuming bodies strictly in sequence.
std::vector<Walked> Walk(MemorySource& src, PackageIndex index) {
  std::vector<Walked> out;
  auto readGroup = [&](const std::u16string& name, const std::vector<PackageEntry>& entries) {
    for (const PackageEntry& entry : entries) {
      Walked w{name, entry.name, std::vector<uint8_t>(entry.size)};
      EXPECT_EQ(src.Read(w.body.data(), entry.size), entry.size);
      out.push_back(std::move(w));
    }
  };
  auto primary = index.find(kPrimaryGroupName);
  if (primary == index.end()) return out;
  readGroup(primary->first, primary->second);
  index.erase(primary);
  for (const auto& [name, entries] : index) readGroup(name, entries);
  return out;
}

std::vector<uint8_t> ExpectedBody(size_t group, size_t entry, uint32_t size) {
  std::vector<uint8_t> body(size);
  for (size_t i = 0; i < size; ++i) body[i] = BodyByte(group, entry, i);
  return body;
}

TEST(PackageFormat, RoundTripKeepsEveryBodyInPlace) {
  const std::vector<PackageGroupLayout> groups = {
      {u"a", {{u"lower.txt", 3}}},
      {kPrimaryGroupName,
       {{u"AssistFile.ini", 0}, {u"UpdateModuleSetup.exe", 65536}, {u"MessageSetting.ini", 65537},
        {kCabinetEntryName, 131072}}},
      {u"B", {{u"upper.bin", 5}, {u"empty", 0}}},
      {u"!!!A", {{u"bang.dat", 65535}}},
  };
  uint64_t offset = 0;
  const std::vector<uint8_t> file = BuildPackage(groups, &offset);
  MemorySource src(file);
  PackageIndex index;
  uint64_t dataStart = 0, dataBytes = 0;
  ASSERT_EQ(ParsePackageIndex(src, file.size(), index, dataStart, dataBytes), IndexStatus::Ok);
  EXPECT_EQ(dataStart, offset + SerializePackageHeaders(groups).size());
  EXPECT_EQ(src.Position(), dataStart);
  EXPECT_EQ(dataBytes, 3u + 65536 + 65537 + 131072 + 5 + 65535);
  EXPECT_EQ(dataStart + dataBytes, file.size());

  // Ordinal order: "!!!A" (0x21 0x21 0x21 0x41) sorts before the primary group's "!!!E".
  std::vector<std::u16string> keys;
  for (const auto& [name, entries] : index) keys.push_back(name);
  EXPECT_EQ(keys, (std::vector<std::u16string>{u"!!!A", kPrimaryGroupName, u"B", u"a"}));

  const std::vector<Walked> walked = Walk(src, index);
  const std::vector<std::pair<size_t, size_t>> expectedOrder = {{1, 0}, {1, 1}, {1, 2}, {1, 3},
                                                                 {3, 0}, {2, 0}, {2, 1}, {0, 0}};
  EXPECT_EQ(ExtractionOrder(groups), expectedOrder);
  ASSERT_EQ(walked.size(), expectedOrder.size());
  for (size_t i = 0; i < walked.size(); ++i) {
    const auto [g, e] = expectedOrder[i];
    EXPECT_EQ(walked[i].group, groups[g].name);
    EXPECT_EQ(walked[i].name, groups[g].entries[e].name);
    EXPECT_TRUE(walked[i].body == ExpectedBody(g, e, groups[g].entries[e].size)) << "entry " << i;
  }
  EXPECT_EQ(src.Position(), file.size());
}

TEST(PackageFormat, ShippedLayoutHeaderSizes) {
  // One primary group with the four entries of the shipped package: 308 header bytes.
  const std::vector<PackageGroupLayout> groups = {
      {kPrimaryGroupName,
       {{u"MessageSetting.ini", 85}, {u"AssistFile.ini", 394}, {u"UpdateModuleSetup.exe", 1914904},
        {kCabinetEntryName, 1906}}}};
  const std::vector<uint8_t> headers = SerializePackageHeaders(groups);
  ASSERT_EQ(headers.size(), 308u);
  // G = 1, N = 39, M = 4, then the name's first unit '!' little-endian.
  EXPECT_EQ(std::vector<uint8_t>(headers.begin(), headers.begin() + 14),
            (std::vector<uint8_t>{1, 0, 0, 0, 39, 0, 0, 0, 4, 0, 0, 0, '!', 0}));

  std::vector<uint8_t> file(0x3C349D + 3 + 100, 0);  // data region, three zero bytes, a certificate
  const std::vector<uint8_t> stub = StubImage(0x40);
  std::copy(stub.begin(), stub.end(), file.begin());
  PutU32(file, kPackageOffsetSlot, 0x1EF200);
  std::copy(headers.begin(), headers.end(), file.begin() + 0x1EF200);
  MemorySource src(file);
  PackageIndex index;
  uint64_t dataStart = 0, dataBytes = 0;
  ASSERT_EQ(ParsePackageIndex(src, file.size(), index, dataStart, dataBytes), IndexStatus::Ok);
  EXPECT_EQ(dataStart, 0x1EF334u);
  EXPECT_EQ(dataStart + dataBytes, 0x3C349Du);
  ASSERT_EQ(index.size(), 1u);
  EXPECT_EQ(index.begin()->second[2].name, u"UpdateModuleSetup.exe");
  EXPECT_EQ(index.begin()->second[2].size, 1914904u);
}

TEST(PackageFormat, NoPackageAndEmptyPackage) {
  std::vector<uint8_t> stub = StubImage();
  PackageIndex index;
  uint64_t dataStart = 7, dataBytes = 7;
  {
    MemorySource src(stub);
    EXPECT_EQ(ParsePackageIndex(src, stub.size(), index, dataStart, dataBytes), IndexStatus::NoPackage);
  }
  // A slot pointing at the image's own first bytes reads the no-package marker as G.
  stub.insert(stub.end(), {0x4D, 0x5A, 0x90, 0x00});
  PutU32(stub, kPackageOffsetSlot, static_cast<uint32_t>(stub.size() - 4));
  {
    MemorySource src(stub);
    EXPECT_EQ(ParsePackageIndex(src, stub.size(), index, dataStart, dataBytes), IndexStatus::NoPackage);
  }
  // G = 0: a package with nothing in it.
  const std::vector<uint8_t> empty = BuildPackage({});
  MemorySource src(empty);
  EXPECT_EQ(ParsePackageIndex(src, empty.size(), index, dataStart, dataBytes), IndexStatus::Ok);
  EXPECT_TRUE(index.empty());
  EXPECT_EQ(dataStart, empty.size());
  EXPECT_EQ(dataBytes, 0u);
  // Too short to hold the slot at all.
  const std::vector<uint8_t> tiny(0x22, 0);
  MemorySource tinySrc(tiny);
  EXPECT_EQ(ParsePackageIndex(tinySrc, tiny.size(), index, dataStart, dataBytes), IndexStatus::NoPackage);
}

TEST(PackageFormat, EmbeddedNulCutsTheNameButNotTheHeader) {
  const std::vector<PackageGroupLayout> groups = {
      {std::u16string(u"grp\0hidden", 10), {{std::u16string(u"abc\0def", 7), 4}, {u"next.txt", 2}}},
      {kPrimaryGroupName, {{u"AssistFile.ini", 1}}},
  };
  const std::vector<uint8_t> file = BuildPackage(groups);
  MemorySource src(file);
  PackageIndex index;
  uint64_t dataStart = 0, dataBytes = 0;
  ASSERT_EQ(ParsePackageIndex(src, file.size(), index, dataStart, dataBytes), IndexStatus::Ok);
  ASSERT_EQ(index.count(u"grp"), 1u);
  const auto& entries = index[u"grp"];
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, u"abc");
  EXPECT_EQ(entries[0].size, 4u);
  EXPECT_EQ(entries[1].name, u"next.txt");
  EXPECT_EQ(entries[1].size, 2u);
}

TEST(PackageFormat, DuplicateGroupKeepsTheFirstAndItsBodiesStillCount) {
  const std::vector<PackageGroupLayout> groups = {
      {kPrimaryGroupName, {{u"AssistFile.ini", 10}}},
      {u"X", {{u"first.txt", 5}}},
      {u"X", {{u"second.txt", 70000}}},
      {u"Y", {{u"y.txt", 6}}},
  };
  EXPECT_TRUE(HasDuplicateGroupNames(groups));
  const std::vector<uint8_t> file = BuildPackage(groups);
  MemorySource src(file);
  PackageIndex index;
  uint64_t dataStart = 0, dataBytes = 0;
  ASSERT_EQ(ParsePackageIndex(src, file.size(), index, dataStart, dataBytes), IndexStatus::Ok);
  EXPECT_EQ(dataBytes, 10u + 5 + 70000 + 6);
  ASSERT_EQ(index[u"X"].size(), 1u);
  EXPECT_EQ(index[u"X"][0].name, u"first.txt");

  // The writer puts the dropped group's bodies last, so every kept body is read correctly.
  const std::vector<Walked> walked = Walk(src, index);
  ASSERT_EQ(walked.size(), 3u);
  EXPECT_TRUE(walked[0].body == ExpectedBody(0, 0, 10));
  EXPECT_TRUE(walked[1].body == ExpectedBody(1, 0, 5));
  EXPECT_TRUE(walked[2].body == ExpectedBody(3, 0, 6));
  EXPECT_FALSE(HasDuplicateGroupNames({groups[0], groups[1], groups[3]}));
}

TEST(PackageFormat, TruncationIsDamagedInTheHeadersAndTruncatedInTheBodies) {
  const std::vector<PackageGroupLayout> groups = {
      {kPrimaryGroupName, {{u"AssistFile.ini", 3}, {u"UpdateModuleSetup.exe", 2}}},
      {u"Other", {{u"o.txt", 4}}},
  };
  uint64_t offset = 0;
  const std::vector<uint8_t> file = BuildPackage(groups, &offset);
  for (size_t cut = kPackageOffsetSlot + 4; cut < file.size(); ++cut) {
    PackageIndex index;
    uint64_t dataStart = 1, dataBytes = 1;
    // Once as a file of that size, once as a source that stops delivering early.
    MemorySource shorter(file);
    const bool inHeaders = cut < offset + SerializePackageHeaders(groups).size();
    EXPECT_EQ(ParsePackageIndex(shorter, cut, index, dataStart, dataBytes),
              inHeaders ? IndexStatus::Damaged : IndexStatus::Truncated)
        << cut;
    EXPECT_TRUE(index.empty());
    EXPECT_EQ(dataStart, 0u);
    EXPECT_EQ(dataBytes, 0u);
    if (cut < offset + SerializePackageHeaders(groups).size()) {
      MemorySource failing(file, cut);
      EXPECT_EQ(ParsePackageIndex(failing, file.size(), index, dataStart, dataBytes), IndexStatus::Damaged) << cut;
    }
  }
}

TEST(PackageFormat, ImpossibleLengthsAreRefused) {
  const std::vector<PackageGroupLayout> groups = {{kPrimaryGroupName, {{u"AssistFile.ini", 3}}}};
  uint64_t offset = 0;
  const std::vector<uint8_t> good = BuildPackage(groups, &offset);
  const size_t g = offset, n = offset + 4, m = offset + 8;
  const size_t k = offset + 12 + 2 * 39, s = k + 4;
  struct Patch {
    size_t at;
    uint32_t value;
    IndexStatus expected = IndexStatus::Damaged;
  } patches[] = {
      {kPackageOffsetSlot, 0xFFFFFFF0u}, {kPackageOffsetSlot, static_cast<uint32_t>(good.size())},
      {g, 0x7FFFFFFFu}, {g, 2}, {n, 0xFFFFFFFFu}, {n, 0x80000000u}, {m, 0x40000000u},
      {k, 0xFFFFFFFFu},
      // Whole headers whose bodies would run past the end of the file.
      {s, 0xFFFFFFFFu, IndexStatus::Truncated}, {s, 4, IndexStatus::Truncated},
  };
  for (const Patch& p : patches) {
    std::vector<uint8_t> file = good;
    PutU32(file, p.at, p.value);
    MemorySource src(file);
    PackageIndex index;
    uint64_t dataStart = 0, dataBytes = 0;
    EXPECT_EQ(ParsePackageIndex(src, file.size(), index, dataStart, dataBytes), p.expected)
        << "offset " << p.at << " value " << p.value;
    EXPECT_TRUE(index.empty());
  }
}

TEST(PackageFormat, HostileNamesAreRefused) {
  const std::u16string hostile[] = {
      u"", u".", u"..", u"..\\evil.exe", u"sub/evil.exe", u"C:evil", u"C:\\Windows\\evil.dll",
      u"name:stream", u"a*b", u"a?b", u"a<b", u"a>b", u"a|b", u"a\"b", u"tab\tname", u"del\x7f",
      u"trailing.", u"trailing ", u"CON", u"con", u"nul.txt", u"Aux.ini", u"PRN", u"COM1",
      u"lpt9.log", u"com\u00b9", u"NUL .txt", u"conout$", u"COM0",
      std::u16string(u"\0evil", 5),  // empty once cut at the U+0000
  };
  for (const std::u16string& name : hostile) {
    EXPECT_FALSE(IsBareName(name)) << std::string(name.begin(), name.end());
    for (bool asGroup : {true, false}) {
      std::vector<PackageGroupLayout> groups = {{kPrimaryGroupName, {{u"AssistFile.ini", 1}}}};
      if (asGroup)
        groups.push_back({name, {{u"ok.txt", 1}}});
      else
        groups[0].entries.push_back({name, 1});
      const std::vector<uint8_t> file = BuildPackage(groups);
      MemorySource src(file);
      PackageIndex index;
      uint64_t dataStart = 0, dataBytes = 0;
      EXPECT_EQ(ParsePackageIndex(src, file.size(), index, dataStart, dataBytes), IndexStatus::BadName)
          << std::string(name.begin(), name.end()) << (asGroup ? " as group" : " as entry");
      EXPECT_TRUE(index.empty());
    }
  }

  const std::u16string fine[] = {
      u"a", u"AssistFile.ini", kPrimaryGroupName, kCabinetEntryName, u"console.txt", u"COM10",
      u"nullable", u".hidden", u"a..b", u" leading", u"\u65e5\u672c\u8a9e.txt", u"CON-fig", u"LPT",
  };
  for (const std::u16string& name : fine) EXPECT_TRUE(IsBareName(name)) << std::string(name.begin(), name.end());
}

TEST(PackageFormat, ComplementIsItsOwnInverse) {
  unsigned char bytes[] = {'a', 'b', 'c', 0x00, 0xFF};
  ComplementBytes(bytes, sizeof bytes);
  EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 5), (std::vector<unsigned char>{0x9E, 0x9D, 0x9C, 0xFF, 0x00}));
  ComplementBytes(bytes, sizeof bytes);
  EXPECT_EQ(0, std::memcmp(bytes, "abc\0\xFF", 5));

  // Lengths around the eight-byte steps, from an odd address: every byte flips, none beyond.
  for (size_t length : {7u, 8u, 9u, 16u, 23u, 64u}) {
    std::vector<unsigned char> buffer(length + 2);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<unsigned char>(i * 37 + 11);
    const std::vector<unsigned char> before = buffer;
    ComplementBytes(buffer.data() + 1, length);
    EXPECT_EQ(before[0], buffer[0]) << length;
    EXPECT_EQ(before[length + 1], buffer[length + 1]) << length;
    for (size_t i = 1; i <= length; ++i) EXPECT_EQ(static_cast<unsigned char>(~before[i]), buffer[i]) << length << " " << i;
  }
}

TEST(PackageFormat, FixedNamesMatchIgnoringOnlyAsciiCase) {
  EXPECT_TRUE(IsFixedFileName(u"ASSISTFILE.INI"));
  EXPECT_TRUE(IsFixedFileName(u"messagesetting.ini"));
  EXPECT_TRUE(IsFixedFileName(u"MessageInfo.XML"));
  EXPECT_TRUE(IsFixedFileName(u"updatemodulesetup.EXE"));
  EXPECT_FALSE(IsFixedFileName(u"AssistFile.ini "));
  EXPECT_FALSE(IsFixedFileName(u"AssistFile"));
  EXPECT_FALSE(IsFixedFileName(kCabinetEntryName));
  EXPECT_TRUE(IsCabinetEntryName(u"e8ff0748-2339-49F9-9a79-824d7561736c.CAB"));
  EXPECT_FALSE(IsCabinetEntryName(u"E8FF0748-2339-49f9-9A79-824D7561736C.cab.bak"));
  // Only A-Z fold: the Kelvin sign and the dotted capital I are other letters.
  EXPECT_FALSE(EqualsIgnoreAsciiCase(u"\u212a", u"k"));
  EXPECT_FALSE(EqualsIgnoreAsciiCase(u"\u00c9", u"\u00e9"));
  EXPECT_FALSE(IsFixedFileName(u"Ass\u0130stFile.ini"));
  EXPECT_TRUE(EqualsIgnoreAsciiCase(u"@[`{", u"@[`{"));
  EXPECT_FALSE(EqualsIgnoreAsciiCase(u"@", u"`"));  // 0x40 and 0x60 differ by 32 but are not letters
}

TEST(PackageFormat, Utf8Conversions) {
  const std::u16string text = u"Setup \u00e9\u65e5\U0001F600.exe";
  const std::string utf8 = Utf16ToUtf8(text);
  EXPECT_EQ(utf8, "Setup \xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80.exe");
  EXPECT_EQ(Utf8ToUtf16(utf8), text);
  std::u16string checked;
  EXPECT_TRUE(Utf8ToUtf16Checked(utf8, checked));
  EXPECT_EQ(checked, text);

  EXPECT_EQ(Utf16ToUtf8(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");

  const char* illFormed[] = {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE3\x81", "\x80", "a\xFF"};
  for (const char* bad : illFormed) {
    std::u16string out = u"keep";
    EXPECT_FALSE(Utf8ToUtf16Checked(bad, out)) << bad;
    EXPECT_EQ(out, u"keep");
    EXPECT_NE(Utf8ToUtf16(bad).find(u'\uFFFD'), std::u16string::npos);
  }
  // A truncated sequence is one replacement and does not swallow the next character.
  EXPECT_EQ(Utf8ToUtf16("\xE3\x81" "A"), u"\uFFFDA");
}

}  // namespace
