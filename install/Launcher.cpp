// Starts the package's payload module with the launch line, waits for it and keeps its exit code.
#include <windows.h>
#include <shellapi.h>

#include "app/PackageRunner.h"
#include "app/TesselApp.h"
#include "install/Launcher.h"
#include "install/portable/LaunchLine.h"
#include "package/FileSystem.h"

namespace {
// The default value of a HKEY_CLASSES_ROOT key, when it is text.
std::wstring ClassesRootText(const std::wstring& subKey) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::wstring();
  std::wstring text;
  DWORD type = 0, size = 0;
  if (::RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
      buffer.resize(got / sizeof(wchar_t));
      while (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();
      text = buffer.c_str();
    }
  }
  ::RegCloseKey(key);
  return text;
}

DWORD MajorVersion() {
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof v;
  ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v));
  return v.dwMajorVersion;
}
}  // namespace

const wchar_t* LaunchVerb(DWORD majorVersion, const CString& elevation) {
  // Before Windows Vista there is no elevation to ask for.
  if (majorVersion < 6) return L"open";
  return elevation == L"1" ? L"runas" : L"open";
}

void ResolveAssociation(const CString& installer, std::wstring& program, std::wstring& args) {
  const std::wstring e = installer.Str();
  const size_t dot = e.rfind(L'.');
  const std::wstring ext = dot == std::wstring::npos ? e : e.substr(dot);
  const std::wstring type = ClassesRootText(ext);
  const std::wstring command = ClassesRootText(type + L"\\shell\\open\\command");
  SplitAssociationCommand(command, e, program, args);
  // An expansion that does not fit leaves the program as registered rather than cut short.
  wchar_t expanded[260];
  DWORD n = ::ExpandEnvironmentStringsW(program.c_str(), expanded, 260);
  if (n > 0 && n <= 260) program = expanded;
}

bool CPackageRunner::LaunchPayload(std::wstring installer, std::wstring arguments) {
  const wchar_t* verb = LaunchVerb(MajorVersion(), m_strElevation);
  const std::wstring ext = ExtensionOf(installer);
  std::wstring program, args;
  bool isExe = false;
  if (_wcsicmp(ext.c_str(), L".bat") == 0) {
    std::wstring system;
    if (GetSystemDirectoryPath(system)) {
      program = system + L"\\cmd.exe";
      args = L"/c \"" + installer + L"\"";
    } else {
      args = installer;
    }
  } else if (_wcsicmp(ext.c_str(), L".exe") == 0) {
    program = installer;
    isExe = true;
  } else {
    ResolveAssociation(CString(installer), program, args);
  }
  const std::wstring line = BuildLaunchLine(isExe, program, args, arguments);
  const std::wstring module = m_strWorkDir + L"UpdateModuleSetup.exe";

  if (m_hWndNotify) {
    Notify(WM_TSL_SETWATCHPATH, 0, reinterpret_cast<LPARAM>(module.c_str()));
    Notify(WM_TSL_WATCHINSTALLER, 1);
  }
  SHELLEXECUTEINFOW sei{};
  sei.cbSize = sizeof sei;
  sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  sei.lpVerb = verb;
  sei.lpFile = module.c_str();
  sei.lpParameters = line.c_str();
  sei.lpDirectory = m_strWorkDir.c_str();
  sei.nShow = SW_SHOWNORMAL;
  if (!::ShellExecuteExW(&sei)) {
    Notify(WM_TSL_WATCHINSTALLER, 0);
    NotifyPosted(WM_TSL_HIDE);
    return false;
  }
  if (sei.hProcess) ::WaitForSingleObject(sei.hProcess, INFINITE);
  NotifyPosted(WM_TSL_HIDE);
  if (sei.hProcess) {
    DWORD code = 0;
    ::GetExitCodeProcess(sei.hProcess, &code);
    TesselApp()->m_dwExitCode = code;
    ::CloseHandle(sei.hProcess);
  }
  if (m_hWndNotify && TesselApp()->m_bShowUi) Notify(WM_TSL_SHOWRESULT);
  return true;
}
