// Environment checks against what the running system (Wine in CI) really answers.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "install/EnvChecks.h"

namespace {

bool RunningOnWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[1024] = {};
  const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
  return (length && length < 1024) ? std::wstring(buffer) : std::wstring();
}

TEST(EnvChecks, OsVersionCodeForEveryVersion) {
  const struct {
    DWORD major;
    DWORD minor;
    int code;
  } cases[] = {
      {0, 0, 0},    {4, 0, 0},    {4, 10, 0},   {5, 0, 0},    {5, 1, 0x51}, {5, 2, 0},     {5, 3, 0},
      {6, 0, 0x60}, {6, 1, 0x61}, {6, 2, 0x62}, {6, 3, 0x62}, {6, 4, 0x62}, {7, 0, 0x62},  {10, 0, 0x62},
  };
  for (const auto& c : cases) EXPECT_EQ(c.code, OsVersionCodeFor(c.major, c.minor)) << c.major << "." << c.minor;
}

TEST(EnvChecks, OsVersionCodeOfThisSystem) {
  // Read the version the plain way (the short structure) and compare.
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_TRUE(GetVersionExW(&info));
  const int code = GetOsVersionCode();
  EXPECT_EQ(OsVersionCodeFor(info.dwMajorVersion, info.dwMinorVersion), code)
      << info.dwMajorVersion << "." << info.dwMinorVersion;
  EXPECT_NE(0, code);  // every system that runs these tests is Vista or later
}

// Wine reports the version its registry asks for. A copy of this program under its own name gets
// its own setting (HKCU\Software\Wine\AppDefaults\<name>\Version), so nothing else is affected.
TEST(EnvChecks, OsVersionCodeUnderSteeredWineVersions) {
  if (!RunningOnWine()) GTEST_SKIP() << "needs Wine's per-program version setting";
  wchar_t self[MAX_PATH] = {};
  ASSERT_NE(0u, GetModuleFileNameW(nullptr, self, MAX_PATH));
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount());
  const std::wstring exeName = L"tsl_osver_" + tag + L".exe";
  const std::wstring copy = std::wstring(temp) + exeName;
  const std::wstring result = std::wstring(temp) + L"tsl_osver_" + tag + L".txt";
  ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE));
  const std::wstring keyPath = L"Software\\Wine\\AppDefaults\\" + exeName;

  const struct {
    const wchar_t* setting;
    int code;
  } cases[] = {
      {L"win2k", 0}, {L"winxp", 0x51}, {L"winxp64", 0}, {L"vista", 0x60}, {L"win7", 0x61}, {L"win8", 0x62},
  };
  for (const auto& c : cases) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, &key, nullptr));
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(c.setting),
                   static_cast<DWORD>((wcslen(c.setting) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    DeleteFileW(result.c_str());

    std::wstring command = L"\"" + copy + L"\" --gtest_filter=EnvChecksChild.WriteOsVersionCode";
    SetEnvironmentVariableW(L"TESSEL_OSCODE_OUT", result.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;  // keep the child's report out of ours
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                        &startup, &process);
    SetEnvironmentVariableW(L"TESSEL_OSCODE_OUT", nullptr);
    ASSERT_TRUE(started) << GetLastError();
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    char text[32] = {};
    HANDLE file = CreateFileW(result.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << "the child wrote no code";
    DWORD got = 0;
    ReadFile(file, text, sizeof(text) - 1, &got, nullptr);
    CloseHandle(file);
    EXPECT_EQ(c.code, atoi(text)) << testing::PrintToString(std::wstring(c.setting)) << " reported " << text;
  }
  RegDeleteKeyW(HKEY_CURRENT_USER, keyPath.c_str());
  DeleteFileW(result.c_str());
  DeleteFileW(copy.c_str());
}

// The child half of the test above; does nothing in a normal run.
TEST(EnvChecksChild, WriteOsVersionCode) {
  const std::wstring out = Environment(L"TESSEL_OSCODE_OUT");
  if (out.empty()) GTEST_SKIP() << "only run as the child of OsVersionCodeUnderSteeredWineVersions";
  const std::string text = std::to_string(GetOsVersionCode());
  HANDLE file = CreateFileW(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

TEST(EnvChecks, FreeDiskSpaceOfTheSystemDrive) {
  ULONGLONG free = 0;
  ASSERT_TRUE(GetFreeDiskSpace(L"C:\\", free));
  EXPECT_GT(free, 0u);
  // A second opinion, allowing for what others write meanwhile.
  ULARGE_INTEGER available = {};
  ASSERT_TRUE(GetDiskFreeSpaceExW(L"C:\\", &available, nullptr, nullptr));
  const ULONGLONG difference = free > available.QuadPart ? free - available.QuadPart : available.QuadPart - free;
  EXPECT_LT(difference, 256ull << 20);

  // A folder below the root measures the same drive.
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  ULONGLONG belowRoot = 0;
  EXPECT_TRUE(GetFreeDiskSpace(windows, belowRoot));
  EXPECT_GT(belowRoot, 0u);
}

TEST(EnvChecks, FreeDiskSpaceOfAMissingDriveLeavesTheValue) {
  const DWORD drives = GetLogicalDrives();
  wchar_t letter = 0;
  for (int i = 25; i >= 3 && !letter; --i) {
    if (!(drives & (1u << i))) letter = static_cast<wchar_t>(L'A' + i);
  }
  ASSERT_NE(L'\0', letter);
  ULONGLONG free = 0x1234;
  EXPECT_FALSE(GetFreeDiskSpace(std::wstring(1, letter) + L":\\", free));
  EXPECT_EQ(0x1234u, free);
  EXPECT_FALSE(GetFreeDiskSpace(L"C:\\no such folder\\deeper", free));
  EXPECT_EQ(0x1234u, free);
}

// Wine's default user token holds the Administrators group (S-1-5-32-544).
TEST(EnvChecks, AdministratorsMemberUnderWine) {
  if (!RunningOnWine()) GTEST_SKIP() << "the answer depends on the Windows account";
  EXPECT_EQ(1, IsAdministratorsMember());
}

TEST(EnvChecks, AdministratorsMemberAgreesWithTheToken) {
  // Second opinion: CheckTokenMembership looks at enabled groups only, so it can say no where the
  // check says yes (a filtered token), never the other way round.
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                       0, &administrators));
  BOOL enabled = FALSE;
  ASSERT_TRUE(CheckTokenMembership(nullptr, administrators, &enabled));
  FreeSid(administrators);
  if (enabled) {
    EXPECT_EQ(1, IsAdministratorsMember());
  }
}

TEST(EnvChecks, HalvoManufacturerRule) {
  const struct {
    const wchar_t* value;
    bool maker;
  } cases[] = {
      {L"Halvo Corporation", true},
      {L"Halvo Corporation   ", true},
      {L"Halvo Corporation ", true},
      {L" Halvo Corporation", false},
      {L"HALVO CORPORATION", false},
      {L"halvo corporation", false},
      {L"Halvo Corporation\t", false},
      {L"Halvo Corporation Inc.", false},
      {L"Halvo", false},
      {L"The Wine Project", false},
      {L"", false},
      {L"   ", false},
      {nullptr, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.maker, IsHalvoManufacturer(c.value)) << testing::PrintToString(std::wstring(c.value ? c.value : L"(null)"));
  }
}

// What this computer should answer: Wine reads "The Wine Project" unless the run was given SMBIOS
// data naming the maker (TESSEL_EXPECT_HALVO=1 then).
HRESULT ExpectedMakerAnswer() { return Environment(L"TESSEL_EXPECT_HALVO") == L"1" ? S_OK : S_FALSE; }

DWORD WINAPI CallMakerCheck(LPVOID start) {
  WaitForSingleObject(static_cast<HANDLE>(start), INFINITE);
  return static_cast<DWORD>(CheckHalvoComputer());
}

TEST(EnvChecks, MakerCheckIsAskedOnceAndShared) {
  ResetMakerCheckForTesting();
  const int before = MakerQueryThreadsStarted();

  // Callers arriving together share one query.
  HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<HANDLE> callers;
  for (int i = 0; i < 4; ++i) callers.push_back(CreateThread(nullptr, 0, CallMakerCheck, start, 0, nullptr));
  SetEvent(start);
  for (HANDLE caller : callers) {
    ASSERT_TRUE(caller);
    WaitForSingleObject(caller, INFINITE);
    DWORD answer = 0;
    GetExitCodeThread(caller, &answer);
    EXPECT_EQ(ExpectedMakerAnswer(), static_cast<HRESULT>(answer));
    CloseHandle(caller);
  }
  CloseHandle(start);
  EXPECT_EQ(1, MakerQueryThreadsStarted() - before);

  // Later calls take the kept answer without a new thread.
  EXPECT_EQ(ExpectedMakerAnswer(), CheckHalvoComputer());
  EXPECT_EQ(ExpectedMakerAnswer(), CheckHalvoComputer());
  EXPECT_EQ(1, MakerQueryThreadsStarted() - before);
}

}  // namespace
