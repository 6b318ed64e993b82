#pragma once
// The application object: one per process, reached through AfxGetApp().
#include <windows.h>

class CWnd;

class CWinApp {
 public:
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Returning FALSE ends the process at once with the value of ExitInstance as its exit code.
  virtual BOOL InitInstance();
  virtual int ExitInstance();
  virtual int Run();

  HINSTANCE m_hInstance = nullptr;
  wchar_t* m_lpCmdLine = nullptr;      // the arguments after the program name
  const wchar_t* m_pszAppName = nullptr;  // caption of AfxMessageBox
  CWnd* m_pMainWnd = nullptr;

  // Called by the entry point before InitInstance.
  void InitApplication(HINSTANCE hInstance, wchar_t* cmdLine);

 private:
  wchar_t m_szAppName[MAX_PATH] = {};
};

CWinApp* AfxGetApp();

// The framework's standard message box: the application's title as caption.
int AfxMessageBox(const wchar_t* text, UINT type = MB_OK);

// String id of the application title in the string table (if present, it names the application).
constexpr UINT AFX_IDS_APP_TITLE = 0xE000;
