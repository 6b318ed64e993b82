#include "settings/Md5File.h"

#include "fw/File.h"
#include "settings/portable/Md5.h"

namespace {
// Large pieces: the digest runs at the speed of the disk rather than of the calls.
constexpr UINT kPiece = 1024 * 1024;

// Feeds the file from its current position to its end; false on a read error.
bool DigestFile(HANDLE file, CMD5Checksum& md5) {
  unsigned char* buffer = static_cast<unsigned char*>(::HeapAlloc(::GetProcessHeap(), 0, kPiece));
  if (!buffer) return false;
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file, buffer, kPiece, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    md5.AddData(buffer, got);
  }
  ::HeapFree(::GetProcessHeap(), 0, buffer);
  return ok;
}
}  // namespace

CString ChecksumOfOpenFile(HANDLE file) {
  LARGE_INTEGER zero{};
  if (!::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN)) return CString();
  CMD5Checksum md5;
  if (!DigestFile(file, md5)) return CString();
  return CString(md5.Finish());
}

CString CMD5Checksum::ChecksumOfFile(const CString& path) {
  // Shares nothing while it reads: nobody can change the file under the digest.
  CFile file;
  if (!file.Open(path, CFile::modeRead | CFile::typeBinary)) return CString();
  CMD5Checksum md5;
  if (!DigestFile(file.m_hFile, md5)) return CString();  // a read error gives the empty text, like a failed open
  return CString(md5.Finish());
}
