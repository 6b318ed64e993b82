#include "fw/File.h"

BOOL CFile::Open(const wchar_t* path, UINT flags) {
  Close();
  m_bReadFailed = false;
  if (!path || !*path) return FALSE;
  DWORD access = GENERIC_READ;
  switch (flags & 3) {
    case modeWrite: access = GENERIC_WRITE; break;
    case modeReadWrite: access = GENERIC_READ | GENERIC_WRITE; break;
  }
  DWORD share = 0;  // no share flag given: share nothing
  switch (flags & 0x70) {
    case shareDenyWrite: share = FILE_SHARE_READ; break;
    case shareDenyRead: share = FILE_SHARE_WRITE; break;
    case shareDenyNone: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
  }
  DWORD disposition = (flags & modeCreate) ? CREATE_ALWAYS : OPEN_EXISTING;
  m_hFile = ::CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return m_hFile != INVALID_HANDLE_VALUE;
}

UINT CFile::Read(void* buffer, UINT count) {
  DWORD got = 0;
  if (m_hFile == INVALID_HANDLE_VALUE || !::ReadFile(m_hFile, buffer, count, &got, nullptr)) {
    m_bReadFailed = true;
    return 0;
  }
  return got;
}

BOOL CFile::Write(const void* buffer, UINT count) {
  DWORD put = 0;
  return m_hFile != INVALID_HANDLE_VALUE && ::WriteFile(m_hFile, buffer, count, &put, nullptr) && put == count;
}

void CFile::Close() {
  if (m_hFile != INVALID_HANDLE_VALUE) ::CloseHandle(m_hFile);
  m_hFile = INVALID_HANDLE_VALUE;
}
