#pragma once
// A worker thread object: created suspended on request, optionally deleting itself when the thread ends.
#include <windows.h>

using AFX_THREADPROC = UINT(__cdecl*)(LPVOID);

class CWinThread {
 public:
  CWinThread(AFX_THREADPROC proc, LPVOID param) : m_pfnThreadProc(proc), m_pThreadParams(param) {}
  virtual ~CWinThread();
  CWinThread(const CWinThread&) = delete;
  CWinThread& operator=(const CWinThread&) = delete;

  DWORD ResumeThread() { return ::ResumeThread(m_hThread); }
  BOOL CreateThread(DWORD flags, UINT stackSize, LPSECURITY_ATTRIBUTES security);

  HANDLE m_hThread = nullptr;
  DWORD m_nThreadID = 0;
  BOOL m_bAutoDelete = TRUE;  // delete this object when the thread function returns

 private:
  static DWORD WINAPI ThreadEntry(LPVOID self);
  AFX_THREADPROC m_pfnThreadProc;
  LPVOID m_pThreadParams;
};

// Starts proc(param) on a new thread; null when the thread could not be created.
CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD createFlags = 0, LPSECURITY_ATTRIBUTES security = nullptr);
