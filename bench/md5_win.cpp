// Digests one file with the project's CMD5Checksum as the stub reads it (64 KiB ReadFile pieces);
// prints the digest and the milliseconds the open, reads and digest took.
#include <windows.h>

#include <cstdio>

#include "settings/portable/Md5.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  LARGE_INTEGER freq, t0, t1;
  ::QueryPerformanceFrequency(&freq);
  ::QueryPerformanceCounter(&t0);
  HANDLE h = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 1;
  static unsigned char buffer[64 * 1024];
  CMD5Checksum md5;
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(h, buffer, sizeof buffer, &got, nullptr)) return 1;
    if (got == 0) break;
    md5.AddData(buffer, got);
  }
  ::CloseHandle(h);
  char hex[40] = {};
  int i = 0;
  for (wchar_t c : md5.Finish()) hex[i++] = static_cast<char>(c);
  ::QueryPerformanceCounter(&t1);
  std::printf("%s %.3f\n", hex, 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart));
  return 0;
}
