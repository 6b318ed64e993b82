// File-system helpers: known folders, folder creation, and the two ways of removing work folders.
#include "package/FileSystem.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <new>

namespace {

// {04B0F1A7-9490-44BC-96E1-4296A31252E2}
constexpr GUID kIidFileOperationProgressSink = {
    0x04b0f1a7, 0x9490, 0x44bc, {0x96, 0xe1, 0x42, 0x96, 0xa3, 0x12, 0x52, 0xe2}};
// {3AD05575-8857-4850-9277-11B85BDB8E09}
constexpr GUID kClsidFileOperation = {
    0x3ad05575, 0x8857, 0x4850, {0x92, 0x77, 0x11, 0xb8, 0x5b, 0xdb, 0x8e, 0x09}};
// {947AAB5F-0A5C-4C13-B4D6-4BF7836FC9F8}
constexpr GUID kIidFileOperation = {
    0x947aab5f, 0x0a5c, 0x4c13, {0xb4, 0xd6, 0x4b, 0xf7, 0x83, 0x6f, 0xc9, 0xf8}};
// {3981E224-F559-11D3-8E3A-00C04F6837D5}
constexpr GUID kBhidSFObject = {
    0x3981e224, 0xf559, 0x11d3, {0x8e, 0x3a, 0x00, 0xc0, 0x4f, 0x68, 0x37, 0xd5}};
// {000214E6-0000-0000-C000-000000000046}
constexpr GUID kIidShellFolder = {
    0x000214e6, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {43826D1E-E718-42EE-BC55-A1E261C37BFE}
constexpr GUID kIidShellItem = {
    0x43826d1e, 0xe718, 0x42ee, {0xbc, 0x55, 0xa1, 0xe2, 0x61, 0xc3, 0x7b, 0xfe}};

// FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI: no recycle bin, no UI.
constexpr DWORD kDeleteFlags = 0x614;
constexpr int kRemovalAttempts = 3;

DWORD g_dwRetryWait = 10000;
volatile LONG g_nRetryWaits = 0;

void WaitBeforeRetry() {
  InterlockedIncrement(&g_nRetryWaits);
  Sleep(g_dwRetryWait);
}

std::wstring WithBackslash(const std::wstring& path) {
  if (!path.empty() && path.back() == L'\\') return path;
  return path + L'\\';
}

bool SystemLibraryPath(const wchar_t* name, std::wstring& path) {
  if (!GetSystemDirectoryPath(path)) return false;
  path += L'\\';
  path += name;
  return true;
}

// Deletes one file, or one link to a folder, repeating a failed attempt only when asked to.
template <typename Remove>
bool RemoveWithAttempts(const std::wstring& path, bool retry, Remove remove) {
  for (int attempt = 0; attempt < kRemovalAttempts; ++attempt) {
    if (attempt > 0) {
      if (!retry) break;
      WaitBeforeRetry();
    }
    if (remove(path.c_str())) return true;
  }
  return false;
}

bool IsDotEntry(const wchar_t* name) {
  return (name[0] == L'.' && name[1] == 0) || (name[0] == L'.' && name[1] == L'.' && name[2] == 0);
}

// A link is removed as the link itself: RemoveDirectoryW for one that stands for a folder.
bool RemoveLink(const std::wstring& path, DWORD attributes, bool retry) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveWithAttempts(path, retry, RemoveDirectoryW);
  return RemoveWithAttempts(path, retry, DeleteFileW);
}

// Stand-in for the shell's pass where the engine is missing or refuses: same items, same meaning.
bool PlainDeleteItems(const std::wstring& path, const std::vector<std::wstring>& names) {
  const std::wstring folder = WithBackslash(path);
  bool allRemoved = true;
  for (const std::wstring& name : names) {
    const std::wstring child = folder + name;
    const DWORD attributes = GetFileAttributesW(child.c_str());
    bool removed;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      removed = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;  // already gone
    } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      removed = RemoveLink(child, attributes, false);
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      removed = DeleteFolderTree(child, false);
    } else {
      removed = DeleteFileW(child.c_str()) != FALSE;
    }
    if (!removed) allRemoved = false;
  }
  return allRemoved;
}

template <typename T>
void ReleaseAndClear(T*& p) {
  if (p) {
    p->Release();
    p = nullptr;
  }
}

using SHCreateItemFromParsingNameFn = HRESULT(WINAPI*)(PCWSTR, IBindCtx*, REFIID, void**);
using SHCreateShellItemArrayFn = HRESULT(WINAPI*)(PCIDLIST_ABSOLUTE, IShellFolder*, UINT,
                                                   PCUITEMID_CHILD_ARRAY, IShellItemArray**);

// One delete pass through IFileOperation, in a single-threaded apartment that the caller entered.
// Returns true when the engine ran the pass; 'result' then holds the sink's verdict.
bool RunEnginePass(const std::wstring& path, const std::vector<std::wstring>& names, bool& result) {
  CFileOpInterface* sink = CFileOpInterface::Create();
  if (!sink) return false;

  bool ran = false;
  IFileOperation* operation = nullptr;
  HRESULT hr = CoCreateInstance(kClsidFileOperation, nullptr, CLSCTX_ALL, kIidFileOperation,
                                reinterpret_cast<void**>(&operation));
  if (SUCCEEDED(hr) && operation) {
    DWORD cookie = 0;
    if (SUCCEEDED(operation->Advise(sink, &cookie))) {
      bool queued = false;
      if (SUCCEEDED(operation->SetOperationFlags(kDeleteFlags))) {
        std::wstring shellPath;
        HMODULE shell = SystemLibraryPath(L"SHELL32.dll", shellPath) ? LoadLibraryW(shellPath.c_str()) : nullptr;
        IShellItem* folderItem = nullptr;
        IShellFolder* folder = nullptr;
        IShellItemArray* items = nullptr;
        std::vector<PITEMID_CHILD> ids;
        auto createItem = shell ? reinterpret_cast<SHCreateItemFromParsingNameFn>(
                                      reinterpret_cast<void*>(GetProcAddress(shell, "SHCreateItemFromParsingName")))
                                : nullptr;
        auto createArray = shell ? reinterpret_cast<SHCreateShellItemArrayFn>(
                                       reinterpret_cast<void*>(GetProcAddress(shell, "SHCreateShellItemArray")))
                                 : nullptr;
        if (createItem && createArray &&
            SUCCEEDED(createItem(path.c_str(), nullptr, kIidShellItem, reinterpret_cast<void**>(&folderItem))) &&
            folderItem &&
            SUCCEEDED(folderItem->BindToHandler(nullptr, kBhidSFObject, kIidShellFolder,
                                                reinterpret_cast<void**>(&folder))) &&
            folder) {
          bool parsed = true;
          for (const std::wstring& name : names) {
            PIDLIST_RELATIVE id = nullptr;
            if (FAILED(folder->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(name.c_str()), nullptr, &id,
                                                nullptr)) ||
                !id) {
              parsed = false;
              break;
            }
            ids.push_back(static_cast<PITEMID_CHILD>(id));
          }
          if (parsed && ids.empty()) {
            queued = true;  // nothing to delete: an empty pass
          } else if (parsed &&
                     SUCCEEDED(createArray(nullptr, folder, static_cast<UINT>(ids.size()),
                                           const_cast<PCUITEMID_CHILD_ARRAY>(ids.data()), &items)) &&
                     items && SUCCEEDED(operation->DeleteItems(items))) {
            queued = true;
          }
        }
        for (PITEMID_CHILD id : ids) CoTaskMemFree(id);
        ReleaseAndClear(items);
        ReleaseAndClear(folder);
        ReleaseAndClear(folderItem);
        if (shell) FreeLibrary(shell);
        if (queued && SUCCEEDED(operation->PerformOperations())) {
          ran = true;
          result = sink->Succeeded();
        }
      }
      operation->Unadvise(cookie);
    }
    operation->Release();
  }
  sink->Release();
  return ran;
}

}  // namespace

void SetRetryWaitForTesting(DWORD ms) { g_dwRetryWait = ms; }

unsigned long RetryWaitsForTesting() { return static_cast<unsigned long>(g_nRetryWaits); }

bool GetKnownFolderPath(REFKNOWNFOLDERID id, std::wstring& path) {
  std::wstring libraryPath;
  if (!SystemLibraryPath(L"Shell32.dll", libraryPath)) return false;
  HMODULE shell = LoadLibraryW(libraryPath.c_str());
  if (!shell) return false;
  using Fn = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
  auto getPath = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(shell, "SHGetKnownFolderPath")));
  PWSTR found = nullptr;
  const HRESULT hr = getPath ? getPath(id, 0, nullptr, &found) : E_FAIL;
  FreeLibrary(shell);
  const bool ok = hr == S_OK && found;
  if (ok) path = found;
  if (found) CoTaskMemFree(found);
  return ok;
}

bool GetSystemDirectoryPath(std::wstring& path) {
  wchar_t buffer[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
  path = buffer;
  return length != 0;
}

DWORD CreateDirectoryChain(const wchar_t* path) {
  if (!path) return 0;
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;

  std::wstring parent(path);
  if (parent.size() > 1 && parent.back() == L'\\') parent.pop_back();
  const size_t cut = parent.rfind(L'\\');
  if (cut == std::wstring::npos) return ERROR_INVALID_DRIVE;
  parent.resize(cut);
  const DWORD result = CreateDirectoryChain(parent.c_str());
  if (result != 0) return result;

  if (!CreateDirectoryW(path, nullptr)) {
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) return error;
  }
  return 0;
}

bool DeleteFolderTree(const std::wstring& path, bool retry) {
  // A link given as the folder itself goes as a link; its target is not ours to empty.
  // Asked without a trailing backslash, which could make the system resolve the link first.
  std::wstring self(path);
  while (self.size() > 3 && self.back() == L'\\') self.pop_back();
  const DWORD own = GetFileAttributesW(self.c_str());
  if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT)) return RemoveLink(self, own, retry);

  const std::wstring folder = WithBackslash(path);
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return RemoveDirectoryW(path.c_str()) != FALSE;

  do {
    if (IsDotEntry(data.cFileName)) continue;
    const std::wstring child = folder + data.cFileName;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      RemoveLink(child, data.dwFileAttributes, retry);
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      DeleteFolderTree(child, retry);
    } else {
      RemoveWithAttempts(child, retry, DeleteFileW);
    }
  } while (FindNextFileW(find, &data));
  const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(find);

  return complete && RemoveDirectoryW(path.c_str()) != FALSE;
}

void DeleteFolderContents(const std::wstring& path, bool retry) {
  if (path.empty()) return;
  std::vector<std::wstring> names;
  for (int attempt = 0; attempt < kRemovalAttempts; ++attempt) {
    if (attempt > 0) {
      names.clear();
      WaitBeforeRetry();
    }
    ListFolderItems(path, names);
    if (ShellDeleteItems(path, names) || !retry) break;
  }
}

void ListFolderItems(const std::wstring& path, std::vector<std::wstring>& names) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((WithBackslash(path) + L"*.*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (IsDotEntry(data.cFileName) || (data.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM)) continue;
    names.emplace_back(data.cFileName);
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

bool ShellDeleteItems(const std::wstring& path, const std::vector<std::wstring>& names) {
  bool result = true;
  bool ran = false;
  // The engine needs a single-threaded apartment; on a thread that cannot enter one, and wherever
  // the engine is missing or refuses the work, the same items go with plain file calls.
  if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    ran = RunEnginePass(path, names, result);
    CoUninitialize();
  }
  if (!ran) result = PlainDeleteItems(path, names);
  return result;
}

CFileOpInterface* CFileOpInterface::Create() { return new (std::nothrow) CFileOpInterface(); }

IFACEMETHODIMP CFileOpInterface::QueryInterface(REFIID riid, void** ppv) {
  static const QITAB table[] = {
      {&kIidFileOperationProgressSink, static_cast<int>(OFFSETOFCLASS(IFileOperationProgressSink, CFileOpInterface))},
      {nullptr, 0},
  };
  return QISearch(this, table, riid, ppv);
}

IFACEMETHODIMP_(ULONG) CFileOpInterface::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_nRefCount)); }

IFACEMETHODIMP_(ULONG) CFileOpInterface::Release() {
  const LONG count = InterlockedDecrement(&m_nRefCount);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

IFACEMETHODIMP CFileOpInterface::StartOperations() { return S_OK; }
IFACEMETHODIMP CFileOpInterface::FinishOperations(HRESULT) { return S_OK; }
IFACEMETHODIMP CFileOpInterface::PreRenameItem(DWORD, IShellItem*, LPCWSTR) { return S_OK; }
IFACEMETHODIMP CFileOpInterface::PostRenameItem(DWORD, IShellItem*, LPCWSTR, HRESULT, IShellItem*) { return S_OK; }
IFACEMETHODIMP CFileOpInterface::PreMoveItem(DWORD, IShellItem*, IShellItem*, LPCWSTR) { return S_OK; }
IFACEMETHODIMP CFileOpInterface::PostMoveItem(DWORD, IShellItem*, IShellItem*, LPCWSTR, HRESULT, IShellItem*) {
  return S_OK;
}
IFACEMETHODIMP CFileOpInterface::PreCopyItem(DWORD, IShellItem*, IShellItem*, LPCWSTR) { return S_OK; }
IFACEMETHODIMP CFileOpInterface::PostCopyItem(DWORD, IShellItem*, IShellItem*, LPCWSTR, HRESULT hrCopy, IShellItem*) {
  return hrCopy;
}
IFACEMETHODIMP CFileOpInterface::PreDeleteItem(DWORD, IShellItem*) { return S_OK; }
IFACEMETHODIMP CFileOpInterface::PostDeleteItem(DWORD, IShellItem*, HRESULT hrDelete, IShellItem*) {
  if (FAILED(hrDelete)) m_bSuccess = false;
  return S_OK;
}
IFACEMETHODIMP CFileOpInterface::PreNewItem(DWORD, IShellItem*, LPCWSTR) { return S_OK; }
IFACEMETHODIMP CFileOpInterface::PostNewItem(DWORD, IShellItem*, LPCWSTR, LPCWSTR, DWORD, HRESULT, IShellItem*) {
  return S_OK;
}
IFACEMETHODIMP CFileOpInterface::UpdateProgress(UINT, UINT) { return S_OK; }
IFACEMETHODIMP CFileOpInterface::ResetTimer() { return S_OK; }
IFACEMETHODIMP CFileOpInterface::PauseTimer() { return S_OK; }
IFACEMETHODIMP CFileOpInterface::ResumeTimer() { return S_OK; }
