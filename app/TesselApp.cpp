#include "app/TesselApp.h"

#include <commctrl.h>

#include "app/TesselDlg.h"
#include "app/portable/CommandLine.h"
#include "res/resource.h"
#include "ui/Strings.h"

const wchar_t kAgentKey[] = L"SOFTWARE\\Halvo Corporation\\Sendrin";

namespace {
const wchar_t kCompatAssistantKey[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Persisted";

// Marks the executable for the compatibility assistant when its file name looks like a setup program,
// so that the system does not offer to re-run it "with recommended settings".
void WriteCompatibilityMark() {
  wchar_t path[256] = {};
  ::GetModuleFileNameW(nullptr, path, 256);
  CString full(path);
  CString name = full.Mid(full.ReverseFind(L'\\') + 1);
  name.MakeLower();
  if (name.Find(L"setup") < 0 && name.Find(L"install") < 0) return;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kCompatAssistantKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
  const DWORD data = 0x21;
  ::RegSetValueExW(key, path, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
  ::RegCloseKey(key);
}

// The agent asks for a silent run with SilentExecution = 1, read as a 32-bit number whatever its type.
bool AgentWantsSilentRun() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAgentKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD value = 0, size = sizeof value;
  LONG rc = ::RegQueryValueExW(key, L"SilentExecution", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  ::RegCloseKey(key);
  return rc == ERROR_SUCCESS && value == 1;
}
}  // namespace

CTesselApp* TesselApp() { return static_cast<CTesselApp*>(AfxGetApp()); }

CTesselApp::CTesselApp() = default;
CTesselApp::~CTesselApp() = default;

BOOL CTesselApp::InitInstance() {
  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof icc;
  icc.dwICC = ICC_WIN95_CLASSES;
  ::InitCommonControlsEx(&icc);

  m_strCmdLine = m_lpCmdLine;
  CWinApp::InitInstance();

  CTesselDlg dlg;
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
  ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
  if (version.dwMajorVersion > 5) {
    WriteCompatibilityMark();
  } else if (!(version.dwMajorVersion == 5 && version.dwMinorVersion != 0)) {
    CString text;
    LoadUiString(IDS_UNSUPPORTED_OS, text);
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
  }

  if (HasSilentSwitch(m_strCmdLine.Str())) {
    m_bShowUi = 0;
  } else {
    m_bShowUi = AgentWantsSilentRun() ? 0 : 1;
  }

  m_pMainWnd = &dlg;
  dlg.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}

int CTesselApp::ExitInstance() {
  CWinApp::ExitInstance();
  return static_cast<int>(m_dwExitCode);
}
