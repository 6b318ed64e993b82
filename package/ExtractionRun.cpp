// The first half of a run: work folder, free space, the package's entries, the settings step with
// its checks and folder dialog, and the cabinet.
#include <windows.h>
#include <objbase.h>
#include <sddl.h>

#include <vector>
#include <shlobj.h>
#include <shlwapi.h>

#include "app/PackageRunner.h"
#include "app/Reports.h"
#include "install/EnvChecks.h"
#include "package/CabExtractor.h"
#include "package/FileSystem.h"
#include "package/PackageReader.h"
#include "package/WorkFolders.h"
#include "res/resource.h"

namespace {
constexpr wchar_t kAssistFile[] = L"AssistFile.ini";
constexpr wchar_t kCabinetMarker[] = L"E8FF0748-2339-49f9-9A79-824D7561736C.cab";

std::wstring Wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

// The drive letter of a path, as message 109 names it: the text before the first ':'.
std::wstring DriveText(const std::wstring& path) {
  size_t colon = path.find(L':');
  return colon == std::wstring::npos ? std::wstring() : path.substr(0, colon);
}

std::wstring CutAtLastBackslash(const std::wstring& path) {
  size_t p = path.rfind(L'\\');
  return p == std::wstring::npos ? path : path.substr(0, p);
}

ULONGLONG FileSizeOf(const std::wstring& path) {
  WIN32_FIND_DATAW fd;
  HANDLE h = ::FindFirstFileW(path.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return 0;
  ::FindClose(h);
  return (static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
}

bool MajorVersionAbove5() {
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof v;
  ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v));
  return v.dwMajorVersion > 5;
}

void CreateIfMissing(const std::wstring& path) {
  if (!::PathFileExistsW(path.c_str())) ::CreateDirectoryW(path.c_str(), nullptr);
}

// Removes what is in a work folder: through the shell from Windows Vista on, recursively before.
void ClearFolder(const std::wstring& path, bool retry) {
  if (GetOsVersionCode() >= 0x60) {
    DeleteFolderContents(path, retry);
  } else {
    DeleteFolderTree(path, retry);
  }
}

enum class StepVariant { Cabinet, OtherEntry };

// A folder on the way to the work folder that is a junction or symbolic link could send the run's
// writes, and its deletes, anywhere on the machine.
bool IsLink(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The run folder admits only its creator, SYSTEM and Administrators, and inherits nothing: other
// users of the machine can write to ProgramData, but not into a folder whose installer may run elevated.
bool CreatePrivateFolder(const std::wstring& path) {
  std::wstring sddl;
  HANDLE token = nullptr;
  if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    wchar_t* sid = nullptr;
    if (size && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
      sddl = std::wstring(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;") + sid + L")";
      ::LocalFree(sid);
    }
    ::CloseHandle(token);
  }
  SECURITY_ATTRIBUTES sa{};
  sa.nLength = sizeof sa;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!sddl.empty() &&
      ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr)) {
    sa.lpSecurityDescriptor = sd;
  }
  // Without a descriptor there is no private folder to be had: better no run than an open one.
  const bool created = sa.lpSecurityDescriptor && ::CreateDirectoryW(path.c_str(), &sa);
  if (sd) ::LocalFree(sd);
  return created;
}
}  // namespace

bool WorkPathHasLink(const std::wstring& path) {
  for (std::wstring step = path; step.size() > 3; step = CutAtLastBackslash(step)) {
    if (IsLink(step)) return true;
    if (step.size() >= 17 && step.compare(step.size() - 17, 17, L"Halvo Corporation") == 0) break;
  }
  return false;
}

// Finds the common application-data folder the way every part of the run does.
bool GetCommonAppDataFolder(std::wstring& path) {
  if (MajorVersionAbove5()) return GetKnownFolderPath(FOLDERID_ProgramData, path);
  wchar_t buffer[2048] = {};
  if (!::SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_COMMON_APPDATA, FALSE)) return false;
  path = buffer;
  return true;
}

bool CPackageRunner::RunExtraction(bool showUi) {
  m_bExtracted = 1;
  const std::wstring exePath = GetExecutablePath();
  const ULONGLONG exeSize = FileSizeOf(exePath);

  // The work folders: <common app data>\Halvo Corporation\Halvo Bundrel\PackagingTemp\{GUID}\.
  // Every folder on the way must be a real folder: a planted link would redirect the writes below
  // and the clean-up's deletes. Each is checked before anything is made inside it.
  auto refuseLinkedPath = [this]() {
    ShowFailureBox(IDS_ERROR_1003);
    m_bExtracted = 0;
    return true;
  };
  std::wstring temp;
  if (GetCommonAppDataFolder(temp)) {
    temp += L"\\Halvo Corporation";
    if (IsLink(temp)) return refuseLinkedPath();
    CreateIfMissing(temp);
  }
  temp += L"\\Halvo Bundrel";
  if (IsLink(temp)) return refuseLinkedPath();
  CreateIfMissing(temp);
  temp += L"\\PackagingTemp";
  if (WorkPathHasLink(temp)) return refuseLinkedPath();
  if (::PathFileExistsW(temp.c_str())) ClearFolder(temp, false);  // what earlier runs left

  ULONGLONG freeBytes = 0;
  GetFreeDiskSpace(CutAtLastBackslash(temp), freeBytes);
  if (!(3 * exeSize <= freeBytes)) {
    const std::wstring drive = DriveText(temp);
    Notify(WM_TSL_WARNING, kWarnNoDiskSpace, reinterpret_cast<LPARAM>(drive.c_str()));
    m_bRunInstaller = 0;
    return false;
  }

  CPackageStream stream;
  PackageIndex index;
  switch (ReadPackageIndex(stream, index)) {
    case IndexStatus::Ok:
      break;
    case IndexStatus::Truncated:
      // The entries run past the end of the file (a download cut short): say that setup failed
      // rather than write incomplete files, and launch nothing.
      ShowFailureBox(IDS_ERROR_1003);
      m_bExtracted = 0;
      return true;
    default:
      return true;  // no package, or one whose index cannot be trusted: nothing to do
  }

  bool walk = true;
  m_strWorkDir = temp;
  if (!::CreateDirectoryW(temp.c_str(), nullptr) && !::PathFileExistsW(temp.c_str())) {
    walk = false;
  } else {
    GUID guid{};
    ::CoCreateGuid(&guid);
    wchar_t text[50] = {};
    ::StringFromGUID2(guid, text, 50);
    m_strRunGuid = text;
    m_strWorkDir = temp + L"\\" + text + L"\\";
    // A run folder that already exists was not made by this run: never use it.
    if (!CreatePrivateFolder(m_strWorkDir)) {
      walk = false;
    } else {
      m_bRunFolderMade = 1;
    }
  }

  std::wstring extractPathByUser, useHalvoCheck, chosen;
  bool stop = false, abort = false, cabinetLibraryPresent = true, firstOtherDue = true;
  const std::wstring assistFile = m_strWorkDir + kAssistFile;

  // The settings step: the checks, the optional folder dialog and the progress display.
  // False when the walk must end (a refusal, a cancel, too little room).
  std::wstring expansionDir;
  auto settingsStep = [&](StepVariant variant) -> bool {
    if (extractPathByUser.empty()) {
      ReadParamOption(L"ExtractPathByUser", extractPathByUser, assistFile);
      ReadParamOption(L"UseHalvoCheck", useHalvoCheck, assistFile);
    }
    if (useHalvoCheck == L"1") {
      if (!IsAdministratorsMember()) {
        m_bRunInstaller = 0;
        NotifyPosted(WM_TSL_WARNING, kWarnNotAdministrator);
        return false;
      }
      if (CheckHalvoComputer() != S_OK) {
        m_bRunInstaller = 0;
        NotifyPosted(WM_TSL_WARNING, kWarnNotHalvoComputer);
        return false;
      }
    }
    if (extractPathByUser == L"1") {
      m_bRunInstaller = 0;
      // The new-style folder dialog needs an apartment on this thread.
      HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      BROWSEINFOW bi{};
      bi.ulFlags = variant == StepVariant::Cabinet ? (BIF_RETURNONLYFSDIRS | BIF_USENEWUI)
                                                   : (BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_USENEWUI);
      PIDLIST_ABSOLUTE pidl = ::SHBrowseForFolderW(&bi);
      if (!pidl) {
        if (SUCCEEDED(com)) ::CoUninitialize();
        return false;
      }
      wchar_t buffer[2048] = {};
      ::SHGetPathFromIDListW(pidl, buffer);
      ::CoTaskMemFree(pidl);
      if (SUCCEEDED(com)) ::CoUninitialize();
      chosen = buffer;
      expansionDir = chosen;
      m_strUserDir = chosen;
      if (chosen.find(L'\\') != std::wstring::npos) {
        ULONGLONG room = 0;
        GetFreeDiskSpace(CutAtLastBackslash(chosen), room);
        const bool enough = variant == StepVariant::Cabinet ? room > 2 * exeSize : room > exeSize;
        if (!enough) {
          const std::wstring drive = DriveText(chosen);
          Notify(WM_TSL_WARNING, kWarnNoDiskSpace, reinterpret_cast<LPARAM>(drive.c_str()));
          return false;
        }
        m_bToUserFolder = 1;
        WIN32_FIND_DATAW fd;
        HANDLE h = ::FindFirstFileW(chosen.c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) {
          CreateDirectoryChain(chosen.c_str());
        } else {
          ::FindClose(h);
        }
        if (showUi) {
          Notify(WM_TSL_SHOWPROGRESS);
          ::Sleep(500);
          Notify(WM_TSL_STARTPROGRESS);
        }
      }
    } else if (showUi) {
      Notify(WM_TSL_SHOWPROGRESS);
      ::Sleep(500);
      Notify(WM_TSL_STARTPROGRESS);
    }
    return true;
  };

  // After a failed expansion or an incomplete entry nothing of this run may be used: empty the temp path.
  auto failExtraction = [&]() {
    ShowFailureBox(IDS_ERROR_1003);
    m_bExtracted = 0;
    ClearFolder(CutAtLastBackslash(CutAtLastBackslash(m_strWorkDir)), false);
  };

  auto group = index.find(kPrimaryGroupName);
  while (walk && group != index.end() && !stop && !abort) {
    const bool primary = group->first == kPrimaryGroupName;
    const std::wstring groupName = Wide(group->first);
    std::wstring groupDir;
    if (primary) {
      groupDir = m_strWorkDir;
    } else {
      if (extractPathByUser.empty()) {
        ReadParamOption(L"ExtractPathByUser", extractPathByUser, assistFile);
        ReadParamOption(L"UseHalvoCheck", useHalvoCheck, assistFile);
      }
      // Only a folder the user picked may hold the other groups; without one they stay in the
      // run's own folder rather than land at the root of the current drive.
      if (extractPathByUser != L"0" && !chosen.empty()) {
        groupDir = chosen + L"\\" + groupName + L"\\";
      } else {
        groupDir = m_strWorkDir + groupName + L"\\";
      }
      ::CreateDirectoryW(groupDir.c_str(), nullptr);
    }
    expansionDir = m_strWorkDir;
    bool cabinetSeen = false;

    for (const PackageEntry& entry : group->second) {
      bool expand = false;
      if (IsCabinetEntryName(entry.name)) {
        cabinetSeen = true;
        if (!settingsStep(StepVariant::Cabinet)) {
          abort = true;
          break;
        }
        expand = true;
      } else if (!IsFixedFileName(entry.name) && firstOtherDue) {
        firstOtherDue = false;
        if (!settingsStep(StepVariant::OtherEntry)) {
          abort = true;
          break;
        }
      }

      const std::wstring name = Wide(entry.name);
      std::wstring target;
      if (m_bRunInstaller || expand) {
        target = groupDir + name;
      } else {
        target = primary ? chosen + L"\\" + name : chosen + L"\\" + groupName + L"\\" + name;
      }

      const bool complement = target.find(kCabinetMarker) != std::wstring::npos;
      if (expand) {
        // FDI reads the cabinet where it lies in the package: writing it out to expand it and
        // deleting it afterwards would cost a second pass over its bytes.
        const uint64_t at = stream.Position();
        if (at + entry.size > stream.Size()) {
          failExtraction();  // the package ends inside the cabinet
          stop = true;
          break;
        }
        std::wstring cabinetDll;
        if (GetSystemDirectoryPath(cabinetDll)) cabinetDll += L"\\Cabinet.dll";
        if (!::PathFileExistsW(cabinetDll.c_str())) {
          NotifyPosted(WM_TSL_WARNING, kWarnNoCabinetLibrary);
          abort = true;
          cabinetLibraryPresent = false;
          break;
        }
        CCabExtractor extractor;
        if (extractor.Create() &&
            !extractor.ExtractEmbedded(target, exePath, at, entry.size, complement, expansionDir)) {
          failExtraction();
        }
        extractor.Destroy();
        if (!stream.Seek(at + entry.size)) {
          stop = true;
          break;
        }
        continue;
      }

      HANDLE out = ::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (out == INVALID_HANDLE_VALUE) {
        stop = true;
        break;
      }
      const bool complete = CopyEntryBody(stream, entry.size, out, complement);
      ::CloseHandle(out);
      if (!complete) {
        // A body cut short by the end of the package, or a disk that filled up: never leave half a
        // file behind to be checked, decoded or run.
        ::DeleteFileW(target.c_str());
        failExtraction();
        stop = true;
        break;
      }
    }

    if (cabinetSeen && !cabinetLibraryPresent) break;
    if (primary) {
      index.erase(group);
      group = index.begin();
    } else {
      ++group;
    }
  }

  stream.Close();
  if (showUi) NotifyPosted(WM_TSL_SETPROGRESS, 1000);
  return true;
}
