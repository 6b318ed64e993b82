#include "app/PackageRunner.h"

CPackageRunner::CPackageRunner(HWND hWndNotify) : m_hWndNotify(hWndNotify) {}

CPackageRunner::~CPackageRunner() { ReleaseCheckedInstaller(); }

void CPackageRunner::ReleaseCheckedInstaller() {
  if (m_hCheckedInstaller != INVALID_HANDLE_VALUE) ::CloseHandle(m_hCheckedInstaller);
  m_hCheckedInstaller = INVALID_HANDLE_VALUE;
}

LRESULT CPackageRunner::Notify(UINT message, WPARAM wParam, LPARAM lParam) const {
  return m_hWndNotify ? ::SendMessageW(m_hWndNotify, message, wParam, lParam) : 0;
}

void CPackageRunner::NotifyPosted(UINT message, WPARAM wParam, LPARAM lParam) const {
  if (m_hWndNotify) ::PostMessageW(m_hWndNotify, message, wParam, lParam);
}

int CPackageRunner::Start(const wchar_t* cmdLine, BYTE showUi) {
  m_bShowUi = showUi;
  m_strCmdLine = cmdLine ? cmdLine : L"";
  m_pThread = AfxBeginThread(&WorkerThreadProc, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, nullptr);
  if (m_pThread) {
    // The object and its handle must outlive the thread: StopWorker waits on it.
    m_pThread->m_bAutoDelete = FALSE;
    m_pThread->ResumeThread();
  }
  return 0;
}

DWORD CPackageRunner::StopWorker() {
  if (!m_pThread) return 0;
  DWORD code = 0;
  if (!::GetExitCodeThread(m_pThread->m_hThread, &code) || code == STILL_ACTIVE) {
    code = 0;
    if (::WaitForSingleObject(m_pThread->m_hThread, 10000) == WAIT_TIMEOUT) {
      ::TerminateThread(m_pThread->m_hThread, 0);
      ::CloseHandle(m_pThread->m_hThread);
      m_pThread->m_hThread = nullptr;
    }
  }
  delete m_pThread;
  m_pThread = nullptr;
  return code;
}

UINT __cdecl WorkerThreadProc(LPVOID param) {
  auto* runner = static_cast<CPackageRunner*>(param);
  if (!runner) return 0;
  runner->RunExtraction(runner->m_bShowUi != 0);
  ::Sleep(1000);
  if (runner->m_bExtracted) runner->RunInstall(runner->m_strCmdLine);
  runner->NotifyPosted(WM_CLOSE);
  return 0;
}
