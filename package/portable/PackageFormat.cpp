#include "package/portable/PackageFormat.h"

#include <algorithm>
#include <cstring>

namespace {

// Reads the package headers with every length held against the size of the file, so that a
// damaged or hostile header can neither run past the end nor ask for a huge allocation.
class HeaderReader {
 public:
  HeaderReader(ByteSource& src, uint64_t fileSize, uint64_t pos)
      : m_src(src), m_fileSize(fileSize), m_pos(pos) {}

  uint64_t Position() const { return m_pos; }
  uint64_t Remaining() const { return m_pos <= m_fileSize ? m_fileSize - m_pos : 0; }

  bool ReadU32(uint32_t& value) {
    unsigned char b[4];
    if (!ReadBytes(b, 4)) return false;
    value = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
            (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return true;
  }

  // A name of `units` UTF-16LE code units, cut at the first U+0000; all units are consumed.
  bool ReadName(uint32_t units, std::u16string& name) {
    name.clear();
    const uint64_t bytes = static_cast<uint64_t>(units) * 2;
    if (bytes > Remaining()) return false;
    std::vector<unsigned char> raw(static_cast<size_t>(bytes));
    if (bytes != 0 && !ReadBytes(raw.data(), raw.size())) return false;
    name.reserve(units);
    for (size_t i = 0; i < raw.size(); i += 2) {
      const char16_t unit = static_cast<char16_t>(raw[i] | (raw[i + 1] << 8));
      if (unit == 0) break;
      name.push_back(unit);
    }
    return true;
  }

 private:
  bool ReadBytes(void* buf, size_t n) {
    if (n > Remaining()) return false;
    if (m_src.Read(buf, n) != n) return false;
    m_pos += n;
    return true;
  }

  ByteSource& m_src;
  uint64_t m_fileSize;
  uint64_t m_pos;
};

void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 24));
}

void AppendName(std::vector<uint8_t>& out, const std::u16string& name) {
  for (char16_t unit : name) {
    out.push_back(static_cast<uint8_t>(unit));
    out.push_back(static_cast<uint8_t>(unit >> 8));
  }
}

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool IsReservedDeviceName(const std::u16string& name) {
  // Windows maps these names to devices whatever the extension, and ignores trailing spaces
  // of the part before the extension ("nul .txt").
  size_t end = name.find(u'.');
  if (end == std::u16string::npos) end = name.size();
  while (end > 0 && name[end - 1] == u' ') --end;
  std::u16string stem;
  for (size_t i = 0; i < end; ++i) stem.push_back(FoldAscii(name[i]));
  static const char16_t* const kPlain[] = {u"con", u"prn", u"aux", u"nul", u"conin$", u"conout$"};
  for (const char16_t* reserved : kPlain)
    if (stem == reserved) return true;
  if (stem.size() == 4 && (stem.compare(0, 3, u"com") == 0 || stem.compare(0, 3, u"lpt") == 0)) {
    const char16_t d = stem[3];
    // COM0/LPT0 and superscript one to three are reserved too in current Windows versions.
    if ((d >= u'0' && d <= u'9') || d == u'\u00b9' || d == u'\u00b2' || d == u'\u00b3') return true;
  }
  return false;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
  }
}

// Decodes UTF-8; each ill-formed sequence (maximal subpart) becomes U+FFFD and clears *ok.
std::u16string DecodeUtf8(const std::string& text, bool* ok) {
  std::u16string out;
  out.reserve(text.size());
  *ok = true;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    int need;
    char32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      need = 1;
      cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      need = 2;
      cp = b0 & 0x0F;
      if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
      if (b0 == 0xED) hi = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      need = 3;
      cp = b0 & 0x07;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
      out.push_back(u'\uFFFD');
      *ok = false;
      ++i;
      continue;
    }
    size_t j = i + 1;
    int got = 0;
    for (; got < need && j < n; ++got, ++j) {
      const unsigned char b = static_cast<unsigned char>(text[j]);
      const unsigned char min = got == 0 ? lo : 0x80, max = got == 0 ? hi : 0xBF;
      if (b < min || b > max) break;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (got < need) {
      out.push_back(u'\uFFFD');
      *ok = false;
      i = j;
      continue;
    }
    AppendUtf16(out, cp);
    i = j;
  }
  return out;
}

}  // namespace

IndexStatus ParsePackageIndex(ByteSource& src, uint64_t fileSize, PackageIndex& index,
                              uint64_t& dataStart, uint64_t& dataBytes) {
  index.clear();
  dataStart = 0;
  dataBytes = 0;
  PackageIndex parsed;
  uint64_t totalBodies = 0;

  if (fileSize < kPackageOffsetSlot + 4 || !src.Seek(kPackageOffsetSlot)) return IndexStatus::NoPackage;
  HeaderReader slot(src, fileSize, kPackageOffsetSlot);
  uint32_t packageOffset = 0;
  if (!slot.ReadU32(packageOffset)) return IndexStatus::NoPackage;
  // A zero slot makes the original layout read the image's first bytes as the group count,
  // which is the no-package marker; say so directly.
  if (packageOffset == 0) return IndexStatus::NoPackage;
  if (packageOffset > fileSize || !src.Seek(packageOffset)) return IndexStatus::Damaged;

  HeaderReader in(src, fileSize, packageOffset);
  uint32_t groupCount = 0;
  if (!in.ReadU32(groupCount)) return IndexStatus::Damaged;
  if (groupCount == kNoPackageMarker) return IndexStatus::NoPackage;
  // Every group record takes at least 8 bytes.
  if (groupCount > in.Remaining() / 8) return IndexStatus::Damaged;

  for (uint32_t g = 0; g < groupCount; ++g) {
    uint32_t nameUnits = 0, entryCount = 0;
    std::u16string groupName;
    if (!in.ReadU32(nameUnits) || !in.ReadU32(entryCount) || !in.ReadName(nameUnits, groupName))
      return IndexStatus::Damaged;
    if (!IsBareName(groupName)) return IndexStatus::BadName;
    if (entryCount > in.Remaining() / 8) return IndexStatus::Damaged;

    std::vector<PackageEntry> entries;
    entries.reserve(entryCount);
    for (uint32_t e = 0; e < entryCount; ++e) {
      uint32_t fileUnits = 0, bodySize = 0;
      std::u16string fileName;
      if (!in.ReadU32(fileUnits) || !in.ReadU32(bodySize) || !in.ReadName(fileUnits, fileName))
        return IndexStatus::Damaged;
      if (!IsBareName(fileName)) return IndexStatus::BadName;
      // A dropped duplicate group's bodies still occupy the data region, so they count too.
      totalBodies += bodySize;
      entries.push_back(PackageEntry{std::move(fileName), bodySize});
    }
    parsed.try_emplace(std::move(groupName), std::move(entries));
  }

  // Whole headers but a short data region: a download cut off, most likely. Callers say so rather
  // than write incomplete files.
  if (totalBodies > in.Remaining()) return IndexStatus::Truncated;
  index = std::move(parsed);
  dataStart = in.Position();
  dataBytes = totalBodies;
  return IndexStatus::Ok;
}

bool IsBareName(const std::u16string& name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F) return false;
    switch (c) {
      case u'\\': case u'/': case u':': case u'<': case u'>':
      case u'"': case u'|': case u'?': case u'*':
        return false;
      default:
        break;
    }
  }
  // Windows strips trailing dots and spaces, which would make the name another file's.
  const char16_t last = name.back();
  if (last == u'.' || last == u' ') return false;
  return !IsReservedDeviceName(name);
}

void ComplementBytes(void* buf, size_t n) {
  // Eight bytes a step: a cabinet of hundreds of megabytes passes through here.
  auto* p = static_cast<unsigned char*>(buf);
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    word = ~word;
    std::memcpy(p + i, &word, 8);
  }
  for (; i < n; ++i) p[i] = static_cast<unsigned char>(~p[i]);
}

bool EqualsIgnoreAsciiCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

bool IsFixedFileName(const std::u16string& name) {
  for (const char16_t* fixed : {kAssistFileName, kMessageSettingName, kMessageInfoName, kPayloadModuleName})
    if (EqualsIgnoreAsciiCase(name, fixed)) return true;
  return false;
}

bool IsCabinetEntryName(const std::u16string& name) { return EqualsIgnoreAsciiCase(name, kCabinetEntryName); }

std::vector<uint8_t> SerializePackageHeaders(const std::vector<PackageGroupLayout>& groups) {
  std::vector<uint8_t> out;
  AppendU32(out, static_cast<uint32_t>(groups.size()));
  for (const PackageGroupLayout& group : groups) {
    AppendU32(out, static_cast<uint32_t>(group.name.size()));
    AppendU32(out, static_cast<uint32_t>(group.entries.size()));
    AppendName(out, group.name);
    for (const PackageEntry& entry : group.entries) {
      AppendU32(out, static_cast<uint32_t>(entry.name.size()));
      AppendU32(out, entry.size);
      AppendName(out, entry.name);
    }
  }
  return out;
}

std::vector<std::pair<size_t, size_t>> ExtractionOrder(const std::vector<PackageGroupLayout>& groups) {
  // The reader keeps the first group of each name; a later one's bodies go last, where the
  // reader never reaches them and they cannot shift the bodies it does read.
  std::vector<size_t> kept, dropped;
  for (size_t g = 0; g < groups.size(); ++g) {
    bool seen = false;
    for (size_t k : kept)
      if (groups[k].name == groups[g].name) seen = true;
    (seen ? dropped : kept).push_back(g);
  }
  const std::u16string primary = kPrimaryGroupName;
  std::stable_sort(kept.begin(), kept.end(), [&](size_t a, size_t b) {
    const bool pa = groups[a].name == primary, pb = groups[b].name == primary;
    if (pa != pb) return pa;
    return groups[a].name < groups[b].name;
  });
  std::vector<std::pair<size_t, size_t>> order;
  for (const std::vector<size_t>* list : {&kept, &dropped})
    for (size_t g : *list)
      for (size_t e = 0; e < groups[g].entries.size(); ++e) order.emplace_back(g, e);
  return order;
}

bool HasDuplicateGroupNames(const std::vector<PackageGroupLayout>& groups) {
  for (size_t a = 0; a < groups.size(); ++a)
    for (size_t b = a + 1; b < groups.size(); ++b)
      if (groups[a].name == groups[b].name) return true;
  return false;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u - 0xD800) << 10) | (text[i + 1] - 0xDC00)));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  bool ok = true;
  return DecodeUtf8(text, &ok);
}

bool Utf8ToUtf16Checked(const std::string& text, std::u16string& out) {
  bool ok = true;
  std::u16string decoded = DecodeUtf8(text, &ok);
  if (!ok) return false;
  out = std::move(decoded);
  return true;
}
