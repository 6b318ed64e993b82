#pragma once
// A file opened for reading or writing; by default it shares nothing with other openers.
#include <windows.h>

class CFile {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeCreate = 0x1000,
    typeBinary = 0x8000,
  };
  CFile() = default;
  ~CFile() { Close(); }
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  BOOL Open(const wchar_t* path, UINT flags);
  // Bytes read; 0 at the end of the file and after a read error (see ReadFailed).
  UINT Read(void* buffer, UINT count);
  BOOL Write(const void* buffer, UINT count);
  void Close();
  bool ReadFailed() const { return m_bReadFailed; }
  HANDLE m_hFile = INVALID_HANDLE_VALUE;

 private:
  bool m_bReadFailed = false;
};
