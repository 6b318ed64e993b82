// Expands a cabinet with cabinet.dll's FDI alone (plain Win32 file callbacks, no stub code), to tell
// the expansion engine's speed apart from the stub's: prints the milliseconds FDICopy took.
#include <windows.h>
#include <fcntl.h>
#include <fdi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
char g_dest[MAX_PATH];

FNALLOC(Alloc) { return std::malloc(cb); }
FNFREE(Free) { std::free(pv); }
FNOPEN(Open) {
  DWORD access = (oflag & (_O_WRONLY | _O_RDWR)) ? GENERIC_WRITE : GENERIC_READ;
  DWORD disp = (oflag & _O_CREAT) ? CREATE_ALWAYS : OPEN_EXISTING;
  HANDLE h = ::CreateFileA(pszFile, access, FILE_SHARE_READ, nullptr, disp, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(h);
}
FNREAD(Read) {
  DWORD got = 0;
  return ::ReadFile(reinterpret_cast<HANDLE>(hf), pv, cb, &got, nullptr) ? got : static_cast<UINT>(-1);
}
FNWRITE(Write) {
  DWORD put = 0;
  return ::WriteFile(reinterpret_cast<HANDLE>(hf), pv, cb, &put, nullptr) ? put : static_cast<UINT>(-1);
}
FNCLOSE(Close) { return ::CloseHandle(reinterpret_cast<HANDLE>(hf)) ? 0 : -1; }
FNSEEK(Seek) { return static_cast<long>(::SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, seektype)); }
FNFDINOTIFY(Notify) {
  if (fdint == fdintCOPY_FILE) {
    char path[MAX_PATH * 2];
    std::snprintf(path, sizeof path, "%s\\%s", g_dest, pfdin->psz1);
    return Open(path, _O_WRONLY | _O_CREAT, 0);
  }
  if (fdint == fdintCLOSE_FILE_INFO) {
    Close(pfdin->hf);
    return TRUE;
  }
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;  // CABDIR\ CABNAME DESTDIR
  std::strncpy(g_dest, argv[3], MAX_PATH - 1);
  LARGE_INTEGER freq, t0, t1;
  ::QueryPerformanceFrequency(&freq);
  ::QueryPerformanceCounter(&t0);
  ERF erf{};
  HFDI fdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &erf);
  if (!fdi) return 1;
  BOOL ok = FDICopy(fdi, argv[2], argv[1], 0, Notify, nullptr, nullptr);
  FDIDestroy(fdi);
  ::QueryPerformanceCounter(&t1);
  std::printf("%d %.3f\n", ok ? 1 : 0, 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart));
  return ok ? 0 : 1;
}
