// File-system helpers on real folders in a fresh temporary folder per test.
#include <gtest/gtest.h>

#include "tests/win/TestFolders.h"
#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "package/FileSystem.h"

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void MakeFile(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << testing::PrintToString(path);
  DWORD written = 0;
  WriteFile(file, "data", 4, &written, nullptr);
  CloseHandle(file);
  if (attributes != FILE_ATTRIBUTE_NORMAL) {
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));
  }
}

void MakeFolder(const std::wstring& path) { ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << GetLastError(); }

bool RunningOnWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The Unix path of a file under Wine, or empty.
std::wstring UnixPath(const std::wstring& path) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unixName ? unixName(path.c_str()) : nullptr;
  if (!name) return std::wstring();
  wchar_t wide[MAX_PATH] = {};
  MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, MAX_PATH);
  HeapFree(GetProcessHeap(), 0, name);
  return wide;
}

// Starts a Unix program under Wine (Wine runs ELF programs too). Wine gives no usable process handle
// for it, so the caller looks for the program's effect.
bool StartUnix(const wchar_t* program, const std::wstring& arguments) {
  std::wstring command = std::wstring(program) + L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  const std::wstring image = std::wstring(L"Z:") + program;
  if (!CreateProcessW(image.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  if (process.hThread) CloseHandle(process.hThread);
  if (process.hProcess) CloseHandle(process.hProcess);
  return true;
}

// Waits up to five seconds for a path to appear (true) or to go (false).
bool AwaitPath(const std::wstring& path, bool present) {
  for (int i = 0; i < 100; ++i) {
    if ((GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) == present) return true;
    Sleep(50);
  }
  return false;
}


std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// A letter that names no drive, or 0.
wchar_t UnusedDriveLetter() {
  const DWORD drives = GetLogicalDrives();
  for (int i = 25; i >= 3; --i) {
    if (!(drives & (1u << i))) return static_cast<wchar_t>(L'A' + i);
  }
  return 0;
}

// Keeps a file open without FILE_SHARE_DELETE, so that deleting it fails, until Release or a
// timed release from another thread.
class FileLock {
 public:
  explicit FileLock(const std::wstring& path) {
    m_file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  }
  ~FileLock() {
    if (m_thread) {
      WaitForSingleObject(m_thread, INFINITE);
      CloseHandle(m_thread);
    }
    Release();
  }
  bool Held() const { return m_file != INVALID_HANDLE_VALUE; }
  void Release() {
    HANDLE file = InterlockedExchangePointer(&m_file, INVALID_HANDLE_VALUE);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  void ReleaseAfter(DWORD ms) {
    m_delay = ms;
    m_thread = CreateThread(nullptr, 0, &FileLock::Later, this, 0, nullptr);
  }

 private:
  static DWORD WINAPI Later(LPVOID self) {
    auto* lock = static_cast<FileLock*>(self);
    Sleep(lock->m_delay);
    lock->Release();
    return 0;
  }
  HANDLE m_file = INVALID_HANDLE_VALUE;
  HANDLE m_thread = nullptr;
  DWORD m_delay = 0;
};

class FileSystemTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    m_root = std::wstring(temp) + L"tsl_fs_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
             std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(++counter);
    ASSERT_TRUE(CreateDirectoryW(m_root.c_str(), nullptr));
    SetRetryWaitForTesting(kWait);
  }
  void TearDown() override {
    SetRetryWaitForTesting(10000);
    if (m_root.empty()) return;
    // Wine cannot remove some Unix links (see the link tests); the Unix rm removes them without
    // following them.
    const std::wstring unixRoot = RunningOnWine() ? UnixPath(m_root) : std::wstring();
    if (!unixRoot.empty() && StartUnix(L"/bin/rm", L"-rf \"" + unixRoot + L"\"") && AwaitPath(m_root, false)) return;
    RemoveTree(m_root);
  }

  // A folder with files, a hidden file, an empty folder and a nested folder.
  std::wstring MakeSampleTree(const std::wstring& name) {
    const std::wstring tree = m_root + L"\\" + name;
    MakeFolder(tree);
    MakeFile(tree + L"\\a.txt");
    MakeFile(tree + L"\\hidden.dat", FILE_ATTRIBUTE_HIDDEN);
    MakeFolder(tree + L"\\empty");
    MakeFolder(tree + L"\\nested");
    MakeFolder(tree + L"\\nested\\deeper");
    MakeFile(tree + L"\\nested\\deeper\\b.txt");
    return tree;
  }

  static constexpr DWORD kWait = 50;
  std::wstring m_root;
};

TEST_F(FileSystemTest, CreateDirectoryChain) {
  MakeFolder(m_root + L"\\exists");
  MakeFile(m_root + L"\\file.txt");
  const std::wstring missingDrive = std::wstring(1, UnusedDriveLetter()) + L":\\tessel\\x\\";
  ASSERT_NE(L'\0', missingDrive[0]);
  const struct {
    std::wstring path;
    DWORD code;
    bool folderAfter;
  } cases[] = {
      {m_root + L"\\exists\\second\\", 0, true},  // first level exists, trailing backslash
      {m_root + L"\\a\\b\\c", 0, true},           // three missing levels
      {m_root + L"\\exists", 0, true},            // already there
      {m_root, 0, true},
      {m_root + L"\\file.txt", 0, false},  // a file where the folder should be reads as "already exists"
      {missingDrive, ERROR_INVALID_DRIVE, false},
      {L"tessel-no-backslash", ERROR_INVALID_DRIVE, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.code, CreateDirectoryChain(c.path.c_str())) << testing::PrintToString(c.path);
    EXPECT_EQ(c.folderAfter, IsFolder(c.path)) << testing::PrintToString(c.path);
  }
  EXPECT_TRUE(IsFolder(m_root + L"\\a\\b"));
  EXPECT_EQ(0u, CreateDirectoryChain(nullptr));

  // Below a file the chain cannot go on: the error of the failing CreateDirectoryW comes back.
  EXPECT_NE(0u, CreateDirectoryChain((m_root + L"\\file.txt\\sub").c_str()));
  EXPECT_FALSE(Exists(m_root + L"\\file.txt\\sub"));
}

class FileSystemTrailing : public FileSystemTest, public testing::WithParamInterface<bool> {};

TEST_P(FileSystemTrailing, DeleteFolderTreeRemovesEverything) {
  const std::wstring tree = MakeSampleTree(L"tree");
  EXPECT_TRUE(DeleteFolderTree(GetParam() ? tree + L"\\" : tree, false));
  EXPECT_FALSE(Exists(tree));
  EXPECT_TRUE(IsFolder(m_root));
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutBackslash, FileSystemTrailing, testing::Bool());

TEST_F(FileSystemTest, DeleteFolderTreeLeavesReadOnlyFileAndFolder) {
  const std::wstring tree = MakeSampleTree(L"tree");
  MakeFile(tree + L"\\nested\\locked.txt", FILE_ATTRIBUTE_READONLY);
  const unsigned long before = RetryWaitsForTesting();
  EXPECT_FALSE(DeleteFolderTree(tree, false));
  EXPECT_EQ(0ul, RetryWaitsForTesting() - before);
  EXPECT_TRUE(Exists(tree + L"\\nested\\locked.txt"));
  // Everything else that could go is gone.
  EXPECT_FALSE(Exists(tree + L"\\a.txt"));
  EXPECT_FALSE(Exists(tree + L"\\hidden.dat"));
  EXPECT_FALSE(Exists(tree + L"\\empty"));
  EXPECT_FALSE(Exists(tree + L"\\nested\\deeper"));
}

TEST_F(FileSystemTest, DeleteFolderTreeOnMissingFolderIsFalse) {
  EXPECT_FALSE(DeleteFolderTree(m_root + L"\\nothing", false));
  EXPECT_FALSE(DeleteFolderTree(m_root + L"\\nothing\\", true));
}

TEST_F(FileSystemTest, DeleteFolderTreeRetriesALockedFile) {
  const std::wstring tree = MakeSampleTree(L"tree");
  FileLock lock(tree + L"\\a.txt");
  ASSERT_TRUE(lock.Held());

  // Without retry: one attempt, no pause.
  unsigned long before = RetryWaitsForTesting();
  EXPECT_FALSE(DeleteFolderTree(tree, false));
  EXPECT_EQ(0ul, RetryWaitsForTesting() - before);

  // With retry: three attempts with two pauses between them, then the folder stays.
  before = RetryWaitsForTesting();
  EXPECT_FALSE(DeleteFolderTree(tree, true));
  EXPECT_EQ(2ul, RetryWaitsForTesting() - before);
  EXPECT_TRUE(Exists(tree + L"\\a.txt"));
  EXPECT_TRUE(IsFolder(tree));
}

TEST_F(FileSystemTest, DeleteFolderTreeSucceedsWhenTheLockGoesDuringTheWait) {
  SetRetryWaitForTesting(1000);
  const std::wstring tree = MakeSampleTree(L"tree");
  FileLock lock(tree + L"\\a.txt");
  ASSERT_TRUE(lock.Held());
  lock.ReleaseAfter(300);  // during the first pause
  EXPECT_TRUE(DeleteFolderTree(tree, true));
  EXPECT_FALSE(Exists(tree));
}

// Makes 'link' a symbolic link to 'target' (a path relative to the link's folder) and checks that it
// shows as a reparse point. Wine 8's CreateSymbolicLinkW reports success but makes nothing, and it
// cannot set reparse points; it does show a Unix symbolic link as one, so there the link is made by
// the Unix ln, which a Windows program under Wine can start.
bool MakeLink(const std::wstring& link, const std::wstring& target, bool folder, std::string& how) {
  if (RunningOnWine()) {
    std::wstring unixTarget = target;
    for (wchar_t& c : unixTarget) {
      if (c == L'\\') c = L'/';
    }
    const std::wstring unixLink = UnixPath(link);
    if (unixLink.empty() || !StartUnix(L"/bin/ln", L"-s \"" + unixTarget + L"\" \"" + unixLink + L"\"") ||
        !AwaitPath(link, true)) {
      how = "/bin/ln could not make the link";
      return false;
    }
    how = "Unix symbolic link";
  } else {
    const DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | 0x2 /* unprivileged, where allowed */;
    if (!CreateSymbolicLinkW(link.c_str(), target.c_str(), flags)) {
      how = "CreateSymbolicLinkW failed with " + std::to_string(GetLastError());
      return false;
    }
    how = "symbolic link";
  }
  const DWORD attributes = GetFileAttributesW(link.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    how += " does not show as a reparse point";
    return false;
  }
  return true;
}

// The recursive delete must not follow a link out of the work folder: the target keeps everything.
// On Windows the link itself goes. Wine 8 cannot remove a Unix link to a folder that holds files
// (RemoveDirectoryW and DeleteFileW answer ERROR_DIR_NOT_EMPTY), so there the link stays and the
// tree is reported as not removed.
TEST_F(FileSystemTest, DeleteFolderTreeDoesNotEnterFolderLinks) {
  const std::wstring target = MakeSampleTree(L"target");
  const std::wstring tree = m_root + L"\\tree";
  MakeFolder(tree);
  MakeFile(tree + L"\\own.txt");
  MakeFolder(tree + L"\\sub");
  std::string how;
  if (!MakeLink(tree + L"\\sub\\link", L"..\\..\\target", true, how)) GTEST_SKIP() << how;

  const bool removed = DeleteFolderTree(tree, false);
  EXPECT_EQ(removed, !Exists(tree));
  if (!RunningOnWine()) {
    EXPECT_TRUE(removed);
  }
  EXPECT_FALSE(Exists(tree + L"\\own.txt"));
  // Nothing of the target was touched.
  EXPECT_TRUE(Exists(target + L"\\a.txt"));
  EXPECT_TRUE(Exists(target + L"\\hidden.dat"));
  EXPECT_TRUE(Exists(target + L"\\empty"));
  EXPECT_TRUE(Exists(target + L"\\nested\\deeper\\b.txt"));

  // A link handed over as the folder itself is not entered either, with or without a backslash.
  ASSERT_TRUE(MakeLink(m_root + L"\\direct", L"target", true, how)) << how;
  DeleteFolderTree(m_root + L"\\direct\\", false);
  DeleteFolderTree(m_root + L"\\direct", false);
  EXPECT_TRUE(Exists(target + L"\\a.txt"));
  EXPECT_TRUE(Exists(target + L"\\nested\\deeper\\b.txt"));

  // Nor through the delete of a folder's contents.
  const std::wstring other = m_root + L"\\other";
  MakeFolder(other);
  MakeFile(other + L"\\own.txt");
  ASSERT_TRUE(MakeLink(other + L"\\link", L"..\\target", true, how)) << how;
  DeleteFolderContents(other, false);
  EXPECT_FALSE(Exists(other + L"\\own.txt"));
  EXPECT_TRUE(IsFolder(other));
  EXPECT_TRUE(Exists(target + L"\\a.txt"));
  EXPECT_TRUE(Exists(target + L"\\nested\\deeper\\b.txt"));
}

// The links themselves go and their targets stay. Not shown under Wine 8, which acts on the target
// of a Unix link instead: DeleteFileW on a link to a file deletes that file (the link does not even
// show as a reparse point), RemoveDirectoryW on a link to an empty folder removes that folder.
TEST_F(FileSystemTest, DeleteFolderTreeRemovesLinksThemselves) {
  if (RunningOnWine()) GTEST_SKIP() << "Wine 8 removes the targets of Unix links, not the links";
  MakeFolder(m_root + L"\\target");
  MakeFile(m_root + L"\\file.txt");
  const std::wstring tree = m_root + L"\\tree";
  MakeFolder(tree);
  std::string how;
  if (!MakeLink(tree + L"\\link", L"..\\target", true, how)) GTEST_SKIP() << how;
  ASSERT_TRUE(MakeLink(tree + L"\\filelink", L"..\\file.txt", false, how)) << how;
  EXPECT_TRUE(DeleteFolderTree(tree, false));
  EXPECT_FALSE(Exists(tree));
  EXPECT_TRUE(IsFolder(m_root + L"\\target"));
  EXPECT_TRUE(Exists(m_root + L"\\file.txt"));
}

TEST_F(FileSystemTest, ListFolderItemsSkipsSystemItemsAndDots) {
  const std::wstring tree = MakeSampleTree(L"tree");
  MakeFile(tree + L"\\system.sys", FILE_ATTRIBUTE_SYSTEM);
  MakeFolder(tree + L"\\sysfolder");
  ASSERT_TRUE(SetFileAttributesW((tree + L"\\sysfolder").c_str(), FILE_ATTRIBUTE_SYSTEM));
  std::vector<std::wstring> names = {L"kept"};
  ListFolderItems(tree, names);
  const std::vector<std::wstring> expected = {L"a.txt", L"empty", L"hidden.dat", L"kept", L"nested"};
  EXPECT_EQ(expected, Sorted(names));

  names.clear();
  ListFolderItems(tree + L"\\", names);
  EXPECT_EQ(4u, names.size());
  names.clear();
  ListFolderItems(m_root + L"\\nothing", names);
  EXPECT_TRUE(names.empty());
}

// The shell's engine is not usable under Wine (its IFileOperation answers E_NOTIMPL), so these show
// the plain-file pass that stands in for it; on Windows the engine itself does the work.
TEST_F(FileSystemTest, DeleteFolderContentsKeepsFolderAndSystemItems) {
  const std::wstring tree = MakeSampleTree(L"tree");
  MakeFile(tree + L"\\system.sys", FILE_ATTRIBUTE_SYSTEM);
  const unsigned long before = RetryWaitsForTesting();
  DeleteFolderContents(tree, true);
  EXPECT_TRUE(IsFolder(tree));
  std::vector<std::wstring> left;
  ListFolderItems(tree, left);
  EXPECT_TRUE(left.empty()) << testing::PrintToString(left);
  EXPECT_TRUE(Exists(tree + L"\\system.sys"));
  EXPECT_EQ(0ul, RetryWaitsForTesting() - before);  // one pass was enough
}

TEST_F(FileSystemTest, DeleteFolderContentsOnEmptyFolderDoesNothing) {
  const std::wstring tree = m_root + L"\\empty";
  MakeFolder(tree);
  const unsigned long before = RetryWaitsForTesting();
  DeleteFolderContents(tree, true);
  DeleteFolderContents(L"", true);
  EXPECT_TRUE(IsFolder(tree));
  EXPECT_EQ(0ul, RetryWaitsForTesting() - before);
}

TEST_F(FileSystemTest, DeleteFolderContentsRetriesOnlyWhenAsked) {
  const std::wstring tree = MakeSampleTree(L"tree");
  FileLock lock(tree + L"\\nested\\deeper\\b.txt");
  ASSERT_TRUE(lock.Held());

  unsigned long before = RetryWaitsForTesting();
  DeleteFolderContents(tree, false);
  EXPECT_EQ(0ul, RetryWaitsForTesting() - before);
  EXPECT_FALSE(Exists(tree + L"\\a.txt"));  // the rest went in the one pass
  EXPECT_TRUE(Exists(tree + L"\\nested\\deeper\\b.txt"));

  before = RetryWaitsForTesting();
  DeleteFolderContents(tree, true);
  EXPECT_EQ(2ul, RetryWaitsForTesting() - before);  // three passes
  EXPECT_TRUE(Exists(tree + L"\\nested\\deeper\\b.txt"));

  SetRetryWaitForTesting(1000);
  lock.ReleaseAfter(300);
  before = RetryWaitsForTesting();
  DeleteFolderContents(tree, true);
  EXPECT_EQ(1ul, RetryWaitsForTesting() - before);  // the second pass, on a fresh listing, succeeds
  EXPECT_FALSE(Exists(tree + L"\\nested"));
  EXPECT_TRUE(IsFolder(tree));
}

TEST_F(FileSystemTest, ShellDeleteItemsReportsItemsThatStay) {
  const std::wstring tree = MakeSampleTree(L"tree");
  MakeFile(tree + L"\\ro.txt", FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(ShellDeleteItems(tree, {L"a.txt", L"nested"}));
  EXPECT_FALSE(Exists(tree + L"\\a.txt"));
  EXPECT_FALSE(Exists(tree + L"\\nested"));
  EXPECT_TRUE(ShellDeleteItems(tree, {}));
  EXPECT_TRUE(Exists(tree + L"\\hidden.dat"));  // only the named items go

  {
    FileLock lock(tree + L"\\hidden.dat");
    ASSERT_TRUE(lock.Held());
    EXPECT_FALSE(ShellDeleteItems(tree, {L"hidden.dat", L"empty"}));
    EXPECT_FALSE(Exists(tree + L"\\empty"));
  }
  EXPECT_TRUE(ShellDeleteItems(tree, {L"hidden.dat"}));
  EXPECT_FALSE(Exists(tree + L"\\hidden.dat"));
}

DWORD WINAPI DeleteOnMtaThread(LPVOID param) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const auto* tree = static_cast<const std::wstring*>(param);
  const bool ok = ShellDeleteItems(*tree, {L"a.txt", L"nested"});
  CoUninitialize();
  return ok ? 1 : 0;
}

// A thread in the multithreaded apartment cannot host the engine; the items still go.
TEST_F(FileSystemTest, ShellDeleteItemsOnMultithreadedApartment) {
  std::wstring tree = MakeSampleTree(L"tree");
  HANDLE thread = CreateThread(nullptr, 0, DeleteOnMtaThread, &tree, 0, nullptr);
  ASSERT_TRUE(thread);
  WaitForSingleObject(thread, INFINITE);
  DWORD ok = 0;
  GetExitCodeThread(thread, &ok);
  CloseHandle(thread);
  EXPECT_EQ(1u, ok);
  EXPECT_FALSE(Exists(tree + L"\\a.txt"));
  EXPECT_FALSE(Exists(tree + L"\\nested"));
  EXPECT_TRUE(Exists(tree + L"\\empty"));
}

TEST(FileOpInterface, QueryInterfaceAndReferenceCount) {
  CFileOpInterface* sink = CFileOpInterface::Create();
  ASSERT_NE(nullptr, sink);
  void* found = nullptr;
  ASSERT_EQ(S_OK, sink->QueryInterface(IID_IFileOperationProgressSink, &found));
  EXPECT_EQ(static_cast<IFileOperationProgressSink*>(sink), found);
  EXPECT_EQ(S_OK, sink->QueryInterface(IID_IUnknown, &found));
  EXPECT_EQ(static_cast<IUnknown*>(sink), found);
  found = &found;
  EXPECT_EQ(E_NOINTERFACE, sink->QueryInterface(IID_IShellItem, &found));
  EXPECT_EQ(nullptr, found);
  // Two references came from QueryInterface; the last Release reports 0.
  EXPECT_EQ(4u, sink->AddRef());
  EXPECT_EQ(3u, sink->Release());
  EXPECT_EQ(2u, sink->Release());
  EXPECT_EQ(1u, sink->Release());
  EXPECT_EQ(0u, sink->Release());
}

TEST(FileOpInterface, OneFailedDeletionClearsTheSuccessFlag) {
  CFileOpInterface* sink = CFileOpInterface::Create();
  ASSERT_NE(nullptr, sink);
  EXPECT_TRUE(sink->Succeeded());
  EXPECT_EQ(S_OK, sink->PostDeleteItem(0, nullptr, S_OK, nullptr));
  EXPECT_TRUE(sink->Succeeded());
  EXPECT_EQ(S_OK, sink->PostDeleteItem(0, nullptr, HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), nullptr));
  EXPECT_EQ(S_OK, sink->PostDeleteItem(0, nullptr, S_OK, nullptr));
  EXPECT_FALSE(sink->Succeeded());
  // A copy's result is passed back; the rest agree to everything.
  EXPECT_EQ(E_ACCESSDENIED, sink->PostCopyItem(0, nullptr, nullptr, nullptr, E_ACCESSDENIED, nullptr));
  EXPECT_EQ(S_OK, sink->PostMoveItem(0, nullptr, nullptr, nullptr, E_FAIL, nullptr));
  EXPECT_EQ(S_OK, sink->StartOperations());
  EXPECT_EQ(S_OK, sink->FinishOperations(E_FAIL));
  EXPECT_EQ(S_OK, sink->UpdateProgress(3, 1));
  EXPECT_EQ(0u, sink->Release());
}

TEST(FileSystemFolders, KnownFolderMatchesTheShell) {
  std::wstring path = L"untouched";
  ASSERT_TRUE(GetKnownFolderPath(FOLDERID_ProgramData, path));
  wchar_t shell[MAX_PATH] = {};
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, shell, CSIDL_COMMON_APPDATA, FALSE));
  EXPECT_EQ(std::wstring(shell), path);
  EXPECT_TRUE(IsFolder(path));

  const GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  path = L"untouched";
  EXPECT_FALSE(GetKnownFolderPath(unknown, path));
  EXPECT_EQ(L"untouched", path);
}

TEST(FileSystemFolders, SystemFolderHoldsTheSystemLibraries) {
  std::wstring path;
  ASSERT_TRUE(GetSystemDirectoryPath(path));
  ASSERT_FALSE(path.empty());
  EXPECT_NE(L'\\', path.back());
  EXPECT_TRUE(Exists(path + L"\\kernel32.dll"));
  EXPECT_TRUE(Exists(path + L"\\Cabinet.dll"));
}

}  // namespace
