#include "fw/Thread.h"

#include <new>

CWinThread::~CWinThread() {
  if (m_hThread) ::CloseHandle(m_hThread);
}

DWORD WINAPI CWinThread::ThreadEntry(LPVOID self) {
  auto* thread = static_cast<CWinThread*>(self);
  UINT code = thread->m_pfnThreadProc(thread->m_pThreadParams);
  if (thread->m_bAutoDelete) delete thread;
  return code;
}

BOOL CWinThread::CreateThread(DWORD flags, UINT stackSize, LPSECURITY_ATTRIBUTES security) {
  // Always created suspended, so that the caller's settings (m_bAutoDelete) are in place before it runs.
  m_hThread = ::CreateThread(security, stackSize, &CWinThread::ThreadEntry, this, CREATE_SUSPENDED, &m_nThreadID);
  if (!m_hThread) return FALSE;
  if (!(flags & CREATE_SUSPENDED)) ::ResumeThread(m_hThread);
  return TRUE;
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority, UINT stackSize, DWORD createFlags,
                           LPSECURITY_ATTRIBUTES security) {
  auto* thread = new (std::nothrow) CWinThread(proc, param);
  if (!thread) return nullptr;
  if (!thread->CreateThread(createFlags | CREATE_SUSPENDED, stackSize, security)) {
    delete thread;
    return nullptr;
  }
  ::SetThreadPriority(thread->m_hThread, priority);
  if (!(createFlags & CREATE_SUSPENDED)) thread->ResumeThread();
  return thread;
}
