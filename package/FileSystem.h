#pragma once
// File-system services shared by the extraction run, the cabinet expansion, the install run and the
// process launcher: known folders, the system folder, folder creation and work-folder removal.
#include <windows.h>
#include <shobjidl.h>
#include <string>
#include <vector>

// Resolves a known folder through Shell32.dll (loaded by full path; the entry point is looked up at
// run time). False, with the path untouched, when the folder cannot be resolved.
bool GetKnownFolderPath(REFKNOWNFOLDERID id, std::wstring& path);

// The system folder as GetSystemDirectoryW reports it (no trailing backslash).
bool GetSystemDirectoryPath(std::wstring& path);

// Creates a folder with all missing parents. 0 when the folder exists afterwards, else a Win32 error;
// ERROR_INVALID_DRIVE when no parent is left to climb to. A null path gives 0.
DWORD CreateDirectoryChain(const wchar_t* path);

// Removes a folder and everything below it with plain file calls; true when the folder itself went.
// Links (reparse points) are removed without being entered.
bool DeleteFolderTree(const std::wstring& path, bool retry);

// Removes the items inside a folder (not the folder itself) in one delete pass; with retry, a pass
// that failed for some item is repeated twice more on a fresh listing.
void DeleteFolderContents(const std::wstring& path, bool retry);

// Names of the items directly in a folder, without "." and ".." and without system-attribute items.
void ListFolderItems(const std::wstring& path, std::vector<std::wstring>& names);

// Deletes the named items of a folder through the shell's file-operation engine; where the engine
// cannot run the pass, with plain file calls. False when some item could not be deleted.
bool ShellDeleteItems(const std::wstring& path, const std::vector<std::wstring>& names);

// Tests only: the pause between removal attempts (10,000 ms unless changed) and how many such pauses
// were taken so far in this process.
void SetRetryWaitForTesting(DWORD ms);
unsigned long RetryWaitsForTesting();

// Progress sink of a delete pass: records whether any deletion failed.
class CFileOpInterface final : public IFileOperationProgressSink {
 public:
  // A new sink with one reference, or null when memory is short.
  static CFileOpInterface* Create();

  bool Succeeded() const { return m_bSuccess; }

  // IUnknown
  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  IFACEMETHODIMP_(ULONG) AddRef() override;
  IFACEMETHODIMP_(ULONG) Release() override;

  // IFileOperationProgressSink
  IFACEMETHODIMP StartOperations() override;
  IFACEMETHODIMP FinishOperations(HRESULT hrResult) override;
  IFACEMETHODIMP PreRenameItem(DWORD dwFlags, IShellItem* psiItem, LPCWSTR pszNewName) override;
  IFACEMETHODIMP PostRenameItem(DWORD dwFlags, IShellItem* psiItem, LPCWSTR pszNewName, HRESULT hrRename,
                                IShellItem* psiNewlyCreated) override;
  IFACEMETHODIMP PreMoveItem(DWORD dwFlags, IShellItem* psiItem, IShellItem* psiDestinationFolder,
                             LPCWSTR pszNewName) override;
  IFACEMETHODIMP PostMoveItem(DWORD dwFlags, IShellItem* psiItem, IShellItem* psiDestinationFolder,
                              LPCWSTR pszNewName, HRESULT hrMove, IShellItem* psiNewlyCreated) override;
  IFACEMETHODIMP PreCopyItem(DWORD dwFlags, IShellItem* psiItem, IShellItem* psiDestinationFolder,
                             LPCWSTR pszNewName) override;
  IFACEMETHODIMP PostCopyItem(DWORD dwFlags, IShellItem* psiItem, IShellItem* psiDestinationFolder,
                              LPCWSTR pszNewName, HRESULT hrCopy, IShellItem* psiNewlyCreated) override;
  IFACEMETHODIMP PreDeleteItem(DWORD dwFlags, IShellItem* psiItem) override;
  IFACEMETHODIMP PostDeleteItem(DWORD dwFlags, IShellItem* psiItem, HRESULT hrDelete,
                                IShellItem* psiNewlyCreated) override;
  IFACEMETHODIMP PreNewItem(DWORD dwFlags, IShellItem* psiDestinationFolder, LPCWSTR pszNewName) override;
  IFACEMETHODIMP PostNewItem(DWORD dwFlags, IShellItem* psiDestinationFolder, LPCWSTR pszNewName,
                             LPCWSTR pszTemplateName, DWORD dwFileAttributes, HRESULT hrNew,
                             IShellItem* psiNewItem) override;
  IFACEMETHODIMP UpdateProgress(UINT iWorkTotal, UINT iWorkSoFar) override;
  IFACEMETHODIMP ResetTimer() override;
  IFACEMETHODIMP PauseTimer() override;
  IFACEMETHODIMP ResumeTimer() override;

 private:
  CFileOpInterface() = default;
  ~CFileOpInterface() = default;

  bool m_bSuccess = true;
  LONG m_nRefCount = 1;
};
