// The second half of a run: settings, integrity check, checks, launch mode, question, launch, clean-up.
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "app/PackageRunner.h"
#include "app/Reports.h"
#include "app/TesselApp.h"
#include "install/EnvChecks.h"
#include "package/FileSystem.h"
#include "package/WorkFolders.h"
#include "res/resource.h"
#include "settings/Md5File.h"

namespace {
constexpr wchar_t kAssistFile[] = L"AssistFile.ini";
constexpr wchar_t kMessageSetting[] = L"MessageSetting.ini";
constexpr wchar_t kPayloadModule[] = L"UpdateModuleSetup.exe";

// Reads one of the agent's values as a 32-bit number; false when the key cannot be opened.
bool ReadAgentValue(const wchar_t* name, DWORD& value) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAgentKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  value = 0;
  DWORD size = sizeof value;
  if (::RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS) value = 0;
  ::RegCloseKey(key);
  return true;
}
}  // namespace

// The agent started this run (LaunchInstaller = 1)? Otherwise the run is a manual one.
bool IsManualLaunch() {
  DWORD launch = 0;
  return !ReadAgentValue(L"LaunchInstaller", launch) || launch != 1;
}

// The agent started this run in its manual mode (LaunchInstaller = 1, SilentExecution = 0).
bool IsAgentManualLaunch() {
  DWORD launch = 0, silent = 0;
  if (!ReadAgentValue(L"LaunchInstaller", launch) || launch != 1) return false;
  ReadAgentValue(L"SilentExecution", silent);
  return silent == 0;
}

bool CPackageRunner::ReadMessageSettings() {
  DWORD silent = 0;
  if (ReadAgentValue(L"SilentExecution", silent) && silent == 1) return true;
  const std::wstring path = m_strWorkDir + kMessageSetting;
  std::wstring value;
  ReadSetting(L"IsShowMessageBox", value, path);
  if (value != L"1") {
    m_bShowMessageBox = 0;
    return false;
  }
  m_bShowMessageBox = 1;
  ReadSetting(L"IsOk", value, path);  // an absent IsOk leaves "1" in place
  m_bOkOnly = value == L"1";
  return false;
}

int CPackageRunner::RunInstall(const CString& cmdLine) {
  // Without a run folder of its own (no package, or none could be made) there is nothing to read or
  // start: relative or shared paths would find whatever someone else put there.
  if (m_bRunInstaller && m_bRunFolderMade) {
    const std::wstring settings = m_strWorkDir + kAssistFile;
    const bool settingsExist = ::PathFileExistsW(settings.c_str()) != FALSE;
    std::wstring executeFileName, paramManual, paramSRM, paramSRAU, productName;
    ReadParamOption(L"ExecuteFileName", executeFileName, settings);
    ReadParamOption(L"ParamManual", paramManual, settings);
    ReadParamOption(L"ParamSRM", paramSRM, settings);
    ReadParamOption(L"ParamSRAU", paramSRAU, settings);
    ReadParamOption(L"ProductName", productName, settings);
    m_strProductName = productName;
    const std::wstring commandLine = cmdLine.Str();
    const std::wstring installer = m_strWorkDir + executeFileName;

    std::wstring useHalvoCheck, elevation, showResult, successCode;
    ReadParamOption(L"UseHalvoCheck", useHalvoCheck, settings);
    ReadParamOption(L"Elevation", elevation, settings);
    m_strElevation = elevation;
    ReadParamOption(L"ShowResult", showResult, settings);
    m_strShowResult = showResult;
    TesselApp()->m_strShowResult = showResult;
    ReadParamOption(L"SuccessCode", successCode, settings);
    m_strSuccessCode = successCode;
    TesselApp()->m_strSuccessCode = successCode;

    bool go = true;
    if (::PathFileExistsW((m_strWorkDir + kPayloadModule).c_str())) {
      std::wstring expected;
      ReadParamOption(L"enc_data", expected, settings);
      // Keep the installer open against writers and deleters from its checksum until the module has
      // started it, so that the file that runs is the file that was checked.
      ReleaseCheckedInstaller();
      m_hCheckedInstaller = ::CreateFileW(installer.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
      const CString actual = m_hCheckedInstaller != INVALID_HANDLE_VALUE
                                 ? ChecksumOfOpenFile(m_hCheckedInstaller)
                                 : CString();
      if (_wcsicmp(expected.c_str(), actual) != 0) {
        ReleaseCheckedInstaller();
        ShowFailureBox(IDS_ERROR_1001);
        go = false;
      }
    }
    if (go && useHalvoCheck == L"1") {
      if (!IsAdministratorsMember()) {
        NotifyPosted(WM_TSL_WARNING, kWarnNotAdministrator);
        go = false;
      } else if (CheckHalvoComputer() != S_OK) {
        NotifyPosted(WM_TSL_WARNING, kWarnNotHalvoComputer);
        go = false;
      }
    }
    if (go) {
      std::wstring arguments;
      if (ReadMessageSettings()) {
        if (!paramSRAU.empty()) arguments = paramSRAU + L" ";
      } else if (IsManualLaunch()) {
        if (!paramManual.empty()) arguments = paramManual + L" ";
      } else if (IsAgentManualLaunch()) {
        if (!paramSRM.empty()) arguments = paramSRM + L" ";
      }
      if (!commandLine.empty()) arguments += commandLine + L" ";
      if (m_hWndNotify) {
        MessageRequest request{m_bShowMessageBox, m_bOkOnly, m_strWorkDir, m_strProductName};
        const LRESULT answer = ::SendMessageW(m_hWndNotify, WM_TSL_ASKUSER, 0, reinterpret_cast<LPARAM>(&request));
        if (answer == 1 && settingsExist && ::PathFileExistsW(installer.c_str())) LaunchPayload(installer, arguments);
      }
    }
    ReleaseCheckedInstaller();
  } else if (m_bToUserFolder) {
    std::wstring folder = m_strUserDir;
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    folder += L"\\";
    ::ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOW);
  }

  // Clean-up, on every path.
  std::wstring base;
  if (GetCommonAppDataFolder(base)) {
    std::wstring temp = base + L"\\Halvo Corporation\\Halvo Bundrel\\PackagingTemp";
    if (WorkPathHasLink(temp)) {
      // Swapped for a link since the extraction: deleting through it would delete elsewhere.
    } else if (GetOsVersionCode() < 0x60) {
      DeleteFolderTree(temp, true);
    } else {
      if (!m_strRunGuid.IsEmpty()) temp += L"\\" + m_strRunGuid.Str();
      DeleteFolderContents(temp, true);
    }
  }
  return 1;
}
