#include "fw/App.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }

void CWinApp::InitApplication(HINSTANCE hInstance, wchar_t* cmdLine) {
  m_hInstance = hInstance;
  m_lpCmdLine = cmdLine;
  // The title string when the string table has one, else the file name without its extension.
  if (::LoadStringW(hInstance, AFX_IDS_APP_TITLE, m_szAppName, MAX_PATH) <= 0) {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(hInstance, path, MAX_PATH);
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
      if (*p == L'\\' || *p == L'/') name = p + 1;
    lstrcpynW(m_szAppName, name, MAX_PATH);
    wchar_t* dot = nullptr;
    for (wchar_t* p = m_szAppName; *p; ++p)
      if (*p == L'.') dot = p;
    if (dot) *dot = 0;
  }
  m_pszAppName = m_szAppName;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

int CWinApp::Run() {
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return ExitInstance();
}

int AfxMessageBox(const wchar_t* text, UINT type) {
  CWinApp* app = AfxGetApp();
  if ((type & MB_ICONMASK) == 0) type |= MB_ICONEXCLAMATION;
  return ::MessageBoxW(nullptr, text, app && app->m_pszAppName ? app->m_pszAppName : L"", type);
}
