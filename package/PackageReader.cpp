#include "package/PackageReader.h"

#include <memory>

bool CPackageStream::Open(const wchar_t* path) {
  Close();
  m_hFile = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (m_hFile == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  m_size = ::GetFileSizeEx(m_hFile, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
  return true;
}

void CPackageStream::Close() {
  if (m_hFile != INVALID_HANDLE_VALUE) ::CloseHandle(m_hFile);
  m_hFile = INVALID_HANDLE_VALUE;
  m_size = 0;
}

size_t CPackageStream::Read(void* buf, size_t n) {
  size_t total = 0;
  auto* p = static_cast<unsigned char*>(buf);
  while (total < n) {
    DWORD want = static_cast<DWORD>(n - total > 0x40000000 ? 0x40000000 : n - total);
    DWORD got = 0;
    if (!::ReadFile(m_hFile, p + total, want, &got, nullptr) || got == 0) break;
    total += got;
  }
  return total;
}

bool CPackageStream::Seek(uint64_t pos) {
  LARGE_INTEGER li;
  li.QuadPart = static_cast<LONGLONG>(pos);
  return ::SetFilePointerEx(m_hFile, li, nullptr, FILE_BEGIN) != FALSE;
}

uint64_t CPackageStream::Position() const {
  LARGE_INTEGER zero{}, at{};
  return ::SetFilePointerEx(m_hFile, zero, &at, FILE_CURRENT) ? static_cast<uint64_t>(at.QuadPart) : 0;
}

std::wstring GetExecutablePath() {
  std::wstring path(1024, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

IndexStatus ReadPackageIndex(CPackageStream& stream, PackageIndex& index) {
  index.clear();
  const std::wstring exe = GetExecutablePath();
  if (exe.empty() || !stream.Open(exe.c_str())) return IndexStatus::NoPackage;
  uint64_t dataStart = 0, dataBytes = 0;
  IndexStatus status = ParsePackageIndex(stream, stream.Size(), index, dataStart, dataBytes);
  if (status != IndexStatus::Ok) {
    index.clear();
    stream.Close();
  }
  return status;
}

bool CopyEntryBody(CPackageStream& stream, uint32_t size, HANDLE output, bool complement) {
  // One buffer for the whole body: memory stays bounded however large the entry is. 128 KiB pieces
  // stay in the processor's cache between the read and the write; pieces of 512 KiB and more were
  // measured up to three times slower when the page cache has to take fresh memory, and smaller ones
  // only add calls.
  constexpr uint32_t kCopyPiece = 2 * kBodyChunkSize;
  const size_t chunk = size < kCopyPiece ? size : kCopyPiece;
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[chunk ? chunk : 1]);
  if (!buffer) return false;
  uint32_t left = size;
  while (left > 0) {
    const size_t want = left < chunk ? left : chunk;
    const size_t got = stream.Read(buffer.get(), want);
    if (got != want) return false;  // the package ends inside this body
    if (complement) ComplementBytes(buffer.get(), got);
    DWORD put = 0;
    if (!::WriteFile(output, buffer.get(), static_cast<DWORD>(got), &put, nullptr) || put != got) return false;
    left -= static_cast<uint32_t>(got);
  }
  return true;
}
