// Cabinet expansion with the system's Cabinet.dll, on real cabinets made by gcab and cabwriter.py
// (tests/win/fixtures/make-cabinets.sh); the folder comes from TESSEL_FIXTURES.
#include <gtest/gtest.h>

#include "tests/win/TestFolders.h"
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <tuple>
#include <vector>

#include "package/CabExtractor.h"

namespace {

std::wstring FixturesFolder() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"TESSEL_FIXTURES", buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  std::wstring folder(buffer);
  if (folder.back() != L'\\') folder += L'\\';
  return folder;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes.clear();
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  return true;
}

void WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Relative paths of every file and folder below 'root' (folders end with a backslash), sorted.
void ListTree(const std::wstring& root, const std::wstring& prefix, std::vector<std::wstring>& out) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((root + prefix + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out.push_back(prefix + name + L"\\");
      ListTree(root, prefix + name + L"\\", out);
    } else {
      out.push_back(prefix + name);
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(out.begin(), out.end());
}


class CabExtractorTest : public testing::Test {
 protected:
  void SetUp() override {
    m_fixtures = FixturesFolder();
    if (m_fixtures.empty()) GTEST_SKIP() << "TESSEL_FIXTURES is not set (run tests/win/fixtures/make-cabinets.sh)";
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    m_root = std::wstring(temp) + L"tsl_cab_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
             std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(++counter);
    ASSERT_TRUE(CreateDirectoryW(m_root.c_str(), nullptr));
    m_dest = m_root + L"\\dest";
    ASSERT_TRUE(CreateDirectoryW(m_dest.c_str(), nullptr));
  }
  void TearDown() override {
    if (!m_root.empty()) RemoveTree(m_root);
  }

  // Expands one fixture cabinet into the destination folder.
  bool Expand(const std::wstring& cabinet, int* errorCode = nullptr) {
    CCabExtractor extractor;
    EXPECT_TRUE(extractor.Create());
    const bool ok = extractor.Extract(m_fixtures + cabinet, m_dest);
    if (errorCode) *errorCode = extractor.LastError().erfOper;
    extractor.Destroy();
    return ok;
  }

  // The extracted tree equals the files that went into the cabinet, byte for byte.
  void ExpectSameAsSources(const std::wstring& cabinet) {
    const std::wstring sources = m_fixtures + L"src\\" + cabinet + L"\\";
    std::vector<std::wstring> expected;
    std::vector<std::wstring> actual;
    ListTree(sources, L"", expected);
    ListTree(m_dest + L"\\", L"", actual);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected, actual);
    for (const std::wstring& item : expected) {
      if (item.back() == L'\\') continue;
      std::string want;
      std::string got;
      ASSERT_TRUE(ReadWholeFile(sources + item, want));
      ASSERT_TRUE(ReadWholeFile(m_dest + L"\\" + item, got)) << "missing " << testing::PrintToString(item);
      EXPECT_EQ(want, got) << testing::PrintToString(item);
    }
  }

  std::wstring m_fixtures;
  std::wstring m_root;
  std::wstring m_dest;
};

TEST(CabExtractorNames, FdiErrorNames) {
  const struct {
    int code;
    const char* text;
  } cases[] = {
      {0, "No error"},
      {1, "Cabinet not found"},
      {2, "Not a cabinet"},
      {3, "Unknown cabinet version"},
      {4, "Corrupt cabinet"},
      {5, "Memory allocation failed"},
      {6, "Unknown compression type"},
      {7, "Failure decompressing data"},
      {8, "Failure writing to target file"},
      {9, "Cabinets in set have different RESERVE sizes"},
      {10, "Cabinet returned on fdintNEXT_CABINET is incorrect"},
      {11, "Application aborted"},
      {12, "Unknown error"},
      {-1, "Unknown error"},
      {1000, "Unknown error"},
  };
  for (const auto& c : cases) EXPECT_STREQ(c.text, FdiErrorName(c.code)) << c.code;
}

TEST(CabExtractorNames, SplitDirAndName) {
  const struct {
    const wchar_t* path;
    const wchar_t* dir;
    const wchar_t* name;
  } cases[] = {
      {L"C:\\work\\pkg.cab", L"C:\\work\\", L"pkg.cab"},
      {L"pkg.cab", L"", L"pkg.cab"},
      {L"sub\\deeper\\b.txt", L"sub\\deeper\\", L"b.txt"},
      {L"C:\\work\\", L"C:\\work\\", L""},
      {L"", L"", L""},
      {L"a/b.txt", L"", L"a/b.txt"},  // only the backslash splits
  };
  for (const auto& c : cases) {
    std::wstring dir = L"junk";
    std::wstring name = L"junk";
    SplitDirAndName(c.path, dir, name);
    EXPECT_EQ(c.dir, dir) << testing::PrintToString(std::wstring(c.path));
    EXPECT_EQ(c.name, name) << testing::PrintToString(std::wstring(c.path));
  }
}

TEST(CabExtractorNames, SafeCabinetNames) {
  const struct {
    const wchar_t* name;
    bool safe;
  } cases[] = {
      {L"a.txt", true},
      {L"sub\\a.txt", true},
      {L"sub/deeper/b.txt", true},
      {L"sub\\\\a.txt", true},  // an empty component is read as one separator
      {L"..a.txt", true},
      {L"a..b\\c..", true},
      {L"console.txt", true},
      {L"COM10", true},
      {L"..\\evil.txt", false},
      {L"../evil.txt", false},
      {L"sub\\..\\..\\evil.txt", false},
      {L"sub/../x", false},
      {L"sub\\..", false},
      {L".\\a.txt", false},
      {L"...\\a.txt", false},
      {L". .\\a.txt", false},
      {L"C:\\evil.txt", false},
      {L"C:evil.txt", false},
      {L"a.txt:stream", false},
      {L"\\\\server\\share\\x", false},
      {L"\\abs.txt", false},
      {L"/abs.txt", false},
      {L"", false},
      {L"NUL", false},
      {L"nul.txt", false},
      {L"sub\\CON", false},
      {L"com1.log", false},
      {L"LPT9", false},
      {L"AUX ", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.safe, IsSafeCabinetName(c.name)) << testing::PrintToString(std::wstring(c.name));
}

// Test names from cabinet names: "hostile-dotdot.cab" -> "hostile_dotdot".
std::string CabinetParamName(const testing::TestParamInfo<const wchar_t*>& info) {
  std::string name;
  for (const wchar_t* c = info.param; *c && *c != L'.'; ++c) {
    name += (*c < 128 && iswalnum(*c)) ? static_cast<char>(*c) : '_';
  }
  return name;
}

class CabExtractorLayouts : public CabExtractorTest, public testing::WithParamInterface<const wchar_t*> {};

TEST_P(CabExtractorLayouts, ExpandsEveryFileInPlace) {
  ASSERT_TRUE(Expand(GetParam()));
  ExpectSameAsSources(GetParam());
}

// plain: no folder part, several data blocks, an empty file; subdirs: folders made with their
// parents; mszip: compressed data; fwdslash: a name written with '/'.
INSTANTIATE_TEST_SUITE_P(Cabinets, CabExtractorLayouts,
                         testing::Values(L"plain.cab", L"subdirs.cab", L"mszip.cab", L"fwdslash.cab"),
                         CabinetParamName);

// A cabinet read in place from inside a larger file, as the stub reads one from its package: bytes
// before and after it, stored complemented or plain. The name it is given exists nowhere on disk.
class CabExtractorEmbedded : public CabExtractorTest,
                             public testing::WithParamInterface<std::tuple<const wchar_t*, bool>> {
 protected:
  // Writes junk, the cabinet (complemented when asked), more junk; returns the cabinet's offset.
  uint64_t MakeContainer(const std::wstring& cabinet, bool complement, size_t cut = 0) {
    std::string body;
    EXPECT_TRUE(ReadWholeFile(m_fixtures + cabinet, body));
    if (complement) {
      for (char& c : body) c = static_cast<char>(~c);
    }
    m_cabinetSize = static_cast<uint32_t>(body.size());
    const std::string before(70001, 'M'), after(5000, 'Z');
    std::string container = before + body + after;
    container.resize(container.size() - after.size() - cut);
    WriteWholeFile(m_root + L"\\package.exe", container);
    return before.size();
  }
  bool ExpandEmbedded(uint64_t offset, bool complement) {
    CCabExtractor extractor;
    EXPECT_TRUE(extractor.Create());
    const bool ok = extractor.ExtractEmbedded(m_root + L"\\work\\E8FF0748-2339-49f9-9A79-824D7561736C.cab",
                                              m_root + L"\\package.exe", offset, m_cabinetSize, complement, m_dest);
    extractor.Destroy();
    return ok;
  }
  uint32_t m_cabinetSize = 0;
};

TEST_P(CabExtractorEmbedded, ExpandsInPlaceWithoutWritingTheCabinet) {
  const auto [cabinet, complement] = GetParam();
  const uint64_t offset = MakeContainer(cabinet, complement);
  ASSERT_TRUE(ExpandEmbedded(offset, complement));
  ExpectSameAsSources(cabinet);
  EXPECT_FALSE(Exists(m_root + L"\\work"));
  // The container is left as it was: closed, so it can be deleted at once.
  EXPECT_TRUE(DeleteFileW((m_root + L"\\package.exe").c_str()));
}

INSTANTIATE_TEST_SUITE_P(Cabinets, CabExtractorEmbedded,
                         testing::Combine(testing::Values(L"plain.cab", L"subdirs.cab", L"mszip.cab"),
                                          testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<const wchar_t*, bool>>& info) {
                           std::string name;
                           for (const wchar_t* c = std::get<0>(info.param); *c && *c != L'.'; ++c) {
                             name += static_cast<char>(*c);
                           }
                           return name + (std::get<1>(info.param) ? "_complemented" : "_plain");
                         });

TEST_F(CabExtractorTest, EmbeddedCabinetCutShortFails) {
  // The container ends 100 bytes before the cabinet does, as a download cut short would.
  std::string body;
  ASSERT_TRUE(ReadWholeFile(m_fixtures + L"plain.cab", body));
  const std::string before(4096, 'M');
  WriteWholeFile(m_root + L"\\package.exe", before + body.substr(0, body.size() - 100));
  CCabExtractor extractor;
  ASSERT_TRUE(extractor.Create());
  testing::internal::CaptureStdout();
  const bool ok = extractor.ExtractEmbedded(m_root + L"\\x\\plain.cab", m_root + L"\\package.exe", before.size(),
                                            static_cast<uint32_t>(body.size()), false, m_dest);
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(ok);
  EXPECT_NE(0, extractor.LastError().erfOper);
}

TEST_F(CabExtractorTest, DestinationWithTrailingBackslashGivesTheSameLayout) {
  m_dest += L"\\";
  ASSERT_TRUE(Expand(L"subdirs.cab"));
  m_dest.pop_back();
  ExpectSameAsSources(L"subdirs.cab");
}

TEST_F(CabExtractorTest, MissingDestinationFolderIsCreated) {
  m_dest += L"\\new\\deeper";
  ASSERT_TRUE(Expand(L"plain.cab"));
  ExpectSameAsSources(L"plain.cab");
}

TEST_F(CabExtractorTest, ExistingFileIsOverwritten) {
  WriteWholeFile(m_dest + L"\\one.txt", std::string(5000, 'x'));
  ASSERT_TRUE(Expand(L"plain.cab"));
  ExpectSameAsSources(L"plain.cab");
}

// A target that cannot be opened for writing aborts the copy at that file; the old file stays.
TEST_F(CabExtractorTest, TargetThatCannotBeWrittenAbortsTheCopy) {
  const std::wstring target = m_dest + L"\\one.txt";
  {
    // Held open without write sharing.
    WriteWholeFile(target, "old");
    HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    int code = -1;
    EXPECT_FALSE(Expand(L"plain.cab", &code));
    CloseHandle(held);
    EXPECT_EQ(11, code) << FdiErrorName(code);
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(target, bytes));
    EXPECT_EQ("old", bytes);
    EXPECT_FALSE(Exists(m_dest + L"\\large.txt"));  // the copy stopped at the first file
  }
}

TEST_F(CabExtractorTest, ReadOnlyTargetAbortsTheCopy) {
  const std::wstring target = m_dest + L"\\one.txt";
  WriteWholeFile(target, "old");
  {
    // Wine maps read-only to the Unix write permission, which does not bind root.
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE probe = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
      CloseHandle(probe);
      GTEST_SKIP() << "this system lets a read-only file be opened for writing (Wine as root)";
    }
    int code = -1;
    EXPECT_FALSE(Expand(L"plain.cab", &code));
    EXPECT_EQ(11, code) << FdiErrorName(code);
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(target, bytes));
    EXPECT_EQ("old", bytes);
    EXPECT_FALSE(Exists(m_dest + L"\\large.txt"));
  }
}

// Whether creation times can be set here: Wine keeps none of its own and reports the Unix file's.
bool CreationTimesStick(const std::wstring& folder) {
  const std::wstring path = folder + L"\\probe.tmp";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  FILETIME wanted = {0x12340000, 0x01c00000};
  SetFileTime(file, &wanted, nullptr, nullptr);
  CloseHandle(file);
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  DeleteFileW(path.c_str());
  return CompareFileTime(&data.ftCreationTime, &wanted) == 0;
}

TEST_F(CabExtractorTest, KeepsTheReadOnlyAttribute) {
  ASSERT_TRUE(Expand(L"readonly.cab"));
  ExpectSameAsSources(L"readonly.cab");

  WIN32_FILE_ATTRIBUTE_DATA ro = {};
  WIN32_FILE_ATTRIBUTE_DATA rw = {};
  ASSERT_TRUE(GetFileAttributesExW((m_dest + L"\\ro.txt").c_str(), GetFileExInfoStandard, &ro));
  ASSERT_TRUE(GetFileAttributesExW((m_dest + L"\\rw.txt").c_str(), GetFileExInfoStandard, &rw));
  EXPECT_TRUE(ro.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(rw.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
}

TEST_F(CabExtractorTest, CreationTimeIsTheCabinetStamp) {
  ASSERT_TRUE(Expand(L"readonly.cab"));
  WIN32_FILE_ATTRIBUTE_DATA ro = {};
  WIN32_FILE_ATTRIBUTE_DATA rw = {};
  ASSERT_TRUE(GetFileAttributesExW((m_dest + L"\\ro.txt").c_str(), GetFileExInfoStandard, &ro));
  ASSERT_TRUE(GetFileAttributesExW((m_dest + L"\\rw.txt").c_str(), GetFileExInfoStandard, &rw));

  // The last-write time is the moment of expansion, not the cabinet's stamp.
  SYSTEMTIME stamp = {2021, 3, 0, 4, 5, 6, 8, 0};
  FILETIME local;
  FILETIME expected;
  ASSERT_TRUE(SystemTimeToFileTime(&stamp, &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &expected));
  EXPECT_GT(CompareFileTime(&rw.ftLastWriteTime, &expected), 0);

  // The creation time is the stamp, 2021-03-04 05:06:08 local time, as UTC.
  if (!CreationTimesStick(m_root)) GTEST_SKIP() << "creation times cannot be set on this system (Wine)";
  EXPECT_EQ(expected.dwLowDateTime, rw.ftCreationTime.dwLowDateTime);
  EXPECT_EQ(expected.dwHighDateTime, rw.ftCreationTime.dwHighDateTime);
  EXPECT_EQ(expected.dwLowDateTime, ro.ftCreationTime.dwLowDateTime);
  EXPECT_EQ(expected.dwHighDateTime, ro.ftCreationTime.dwHighDateTime);
}

TEST_F(CabExtractorTest, PathsTooShortToBeRealDoNothing) {
  CCabExtractor extractor;
  ASSERT_TRUE(extractor.Create());
  // A two-character destination, a cabinet without a folder, a one-character cabinet name.
  EXPECT_TRUE(extractor.Extract(m_fixtures + L"plain.cab", L"C:"));
  EXPECT_TRUE(extractor.Extract(L"plain.cab", m_dest));
  EXPECT_TRUE(extractor.Extract(m_fixtures + L"p", m_dest));
  extractor.Destroy();
  std::vector<std::wstring> written;
  ListTree(m_dest + L"\\", L"", written);
  EXPECT_TRUE(written.empty());
  EXPECT_FALSE(Exists(L"C:\\large.txt"));
  EXPECT_FALSE(Exists(L"C:large.txt"));
}

TEST_F(CabExtractorTest, NotACabinetFailsWithItsCode) {
  testing::internal::CaptureStdout();
  int code = -1;
  const bool ok = Expand(L"notcab.bin", &code);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(ok);
  EXPECT_EQ(2, code);
  EXPECT_EQ("FDICopy failed with error code 2: Not a cabinet\n", printed);
}

TEST_F(CabExtractorTest, MissingCabinetFails) {
  int code = -1;
  EXPECT_FALSE(Expand(L"no-such.cab", &code));
  EXPECT_EQ(1, code) << FdiErrorName(code);
}

class CabExtractorHostile : public CabExtractorTest, public testing::WithParamInterface<const wchar_t*> {};

// Each cabinet holds ok.txt and then a name that points outside the destination folder: the copy
// stops at that name, and nothing appears anywhere but ok.txt inside the destination.
TEST_P(CabExtractorHostile, NameLeavingTheDestinationIsRefused) {
  // One level deeper, so that "..\" and "..\..\" both land inside the test folder if followed.
  m_dest += L"\\inner";
  ASSERT_TRUE(CreateDirectoryW(m_dest.c_str(), nullptr));
  const bool driveFileBefore = Exists(L"C:\\evil.txt");
  const bool rootFileBefore = Exists(L"\\abs.txt");

  int code = -1;
  EXPECT_FALSE(Expand(GetParam(), &code));
  EXPECT_EQ(11, code) << FdiErrorName(code);

  std::vector<std::wstring> everything;
  ListTree(m_root + L"\\", L"", everything);
  const std::vector<std::wstring> expected = {L"dest\\", L"dest\\inner\\", L"dest\\inner\\ok.txt"};
  EXPECT_EQ(expected, everything);
  EXPECT_EQ(driveFileBefore, Exists(L"C:\\evil.txt"));
  EXPECT_EQ(rootFileBefore, Exists(L"\\abs.txt"));
}

INSTANTIATE_TEST_SUITE_P(Cabinets, CabExtractorHostile,
                         testing::Values(L"hostile-dotdot.cab", L"hostile-nested.cab", L"hostile-fwddotdot.cab",
                                         L"hostile-drive.cab", L"hostile-unc.cab", L"hostile-abs.cab",
                                         L"hostile-device.cab"),
                         CabinetParamName);

}  // namespace
