#pragma once
// The package appended to the running executable: its index and its bodies, read in order.
#include <windows.h>

#include <string>

#include "package/portable/PackageFormat.h"

class CPackageStream : public ByteSource {
 public:
  CPackageStream() = default;
  ~CPackageStream() override { Close(); }
  CPackageStream(const CPackageStream&) = delete;
  CPackageStream& operator=(const CPackageStream&) = delete;

  bool Open(const wchar_t* path);
  void Close();
  bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }
  uint64_t Size() const { return m_size; }
  // Where the next Read starts.
  uint64_t Position() const;
  size_t Read(void* buf, size_t n) override;
  bool Seek(uint64_t pos) override;

 private:
  HANDLE m_hFile = INVALID_HANDLE_VALUE;
  uint64_t m_size = 0;
};

// The path of the running executable.
std::wstring GetExecutablePath();

// Opens the running executable and reads the package index; on Ok the stream stands at the first body.
// On any other status the stream is closed and the index empty.
IndexStatus ReadPackageIndex(CPackageStream& stream, PackageIndex& index);

// Copies the next body of the stream (size bytes) to the open output file, complementing it when
// asked. False when the package ends before the body does or the output cannot take the bytes:
// the entry is then incomplete and must not be used.
bool CopyEntryBody(CPackageStream& stream, uint32_t size, HANDLE output, bool complement);
