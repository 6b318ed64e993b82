#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// The package appended to the stub: at file offset kPackageOffsetSlot a u32 with the package's
// file offset; there a u32 group count G, G group records {u32 N, u32 M, N UTF-16LE units of
// name, M entry headers {u32 K, u32 S, K UTF-16LE units of name}}, then all bodies back to
// back in extraction order (primary group first, then the other groups in ordinal name order,
// entries in header order). All integers little-endian, names without terminator.

inline constexpr char16_t kPrimaryGroupName[] = u"!!!E8FF0748-2339-49f9-9A79-824D7561736C";
inline constexpr char16_t kCabinetEntryName[] = u"E8FF0748-2339-49f9-9A79-824D7561736C.cab";
inline constexpr char16_t kAssistFileName[] = u"AssistFile.ini";
inline constexpr char16_t kMessageSettingName[] = u"MessageSetting.ini";
inline constexpr char16_t kMessageInfoName[] = u"MessageInfo.xml";
inline constexpr char16_t kPayloadModuleName[] = u"UpdateModuleSetup.exe";

inline constexpr uint32_t kPackageOffsetSlot = 0x20;
// What the slot reads as while it is still zero: the first four bytes of the image, "MZ" 0x0090.
inline constexpr uint32_t kNoPackageMarker = 0x00905A4D;
inline constexpr uint32_t kBodyChunkSize = 65536;

struct PackageEntry {
  std::u16string name;
  uint32_t size;
};

// Group name -> entries in header order; std::less on u16string is the ordinal order that the
// data region follows.
using PackageIndex = std::map<std::u16string, std::vector<PackageEntry>>;

struct ByteSource {
  virtual ~ByteSource() = default;
  virtual size_t Read(void* buf, size_t n) = 0;  // bytes actually read
  virtual bool Seek(uint64_t pos) = 0;
};

enum class IndexStatus {
  Ok,
  NoPackage,  // the slot is still zero (or reads as the image's own first bytes)
  Damaged,    // a header or a name runs past the end of the file
  Truncated,  // the headers are whole, but the bodies run past the end of the file
  BadName,    // a group or entry name that is not a bare file name
};

// Reads the index of the package in a file of fileSize bytes. On Ok the source stands at
// dataStart, the first byte of the data region, and dataBytes is the sum of all body sizes
// (including those of a dropped duplicate group, whose bodies still occupy the data region).
// Names are cut at an embedded U+0000; the later of two groups with the same name is dropped.
// On any other status the index is empty and dataStart, dataBytes are 0.
IndexStatus ParsePackageIndex(ByteSource& src, uint64_t fileSize, PackageIndex& index,
                              uint64_t& dataStart, uint64_t& dataBytes);

// A name that is safe to use as one path component on Windows and names no other file: not
// empty, not "." or "..", no separator, drive colon, wildcard or other character Windows
// refuses, no control character, no trailing dot or space, not a DOS device name.
bool IsBareName(const std::u16string& name);

// The cabinet entry is stored with every byte complemented; the operation is its own inverse.
void ComplementBytes(void* buf, size_t n);

// Comparison that folds only A-Z to a-z.
bool EqualsIgnoreAsciiCase(const std::u16string& a, const std::u16string& b);
// One of AssistFile.ini, MessageSetting.ini, MessageInfo.xml, UpdateModuleSetup.exe (A-Z folded).
bool IsFixedFileName(const std::u16string& name);
bool IsCabinetEntryName(const std::u16string& name);

// Writer side.
struct PackageGroupLayout {
  std::u16string name;
  std::vector<PackageEntry> entries;
};

// G and the group records, ready to be followed by the bodies.
std::vector<uint8_t> SerializePackageHeaders(const std::vector<PackageGroupLayout>& groups);

// (group index, entry index) pairs in the order the reader consumes bodies: the primary group
// first, then the other groups in ascending ordinal order of their names, entries in header
// order. Group names must be unique (see HasDuplicateGroupNames): the reader drops a repeated
// group, whose bodies then could not be placed at all.
std::vector<std::pair<size_t, size_t>> ExtractionOrder(const std::vector<PackageGroupLayout>& groups);
bool HasDuplicateGroupNames(const std::vector<PackageGroupLayout>& groups);

// UTF conversions. Utf16ToUtf8 writes U+FFFD for a lone surrogate. Utf8ToUtf16 writes U+FFFD
// for every ill-formed sequence (overlong forms, surrogates, values above U+10FFFF, stray or
// missing continuation bytes); Utf8ToUtf16Checked instead fails on them.
std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);
bool Utf8ToUtf16Checked(const std::string& text, std::u16string& out);
