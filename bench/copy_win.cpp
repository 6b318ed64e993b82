// Copies a file with a bare ReadFile/WriteFile loop in 128 KiB pieces, as the stub writes a package
// entry, with no stub code around it: the floor of such a copy under this Wine. Prints 1 and the
// milliseconds from the first open to the last close.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) return 2;  // SOURCE TARGET
  constexpr DWORD kPiece = 128 << 10;
  LARGE_INTEGER freq, t0, t1;
  ::QueryPerformanceFrequency(&freq);
  ::QueryPerformanceCounter(&t0);
  HANDLE in = ::CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  HANDLE out = ::CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  void* buffer = ::VirtualAlloc(nullptr, kPiece, MEM_COMMIT, PAGE_READWRITE);
  if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE || !buffer) return 1;
  DWORD got = 0, put = 0;
  bool ok = true;
  while (ok && ::ReadFile(in, buffer, kPiece, &got, nullptr) && got) {
    ok = ::WriteFile(out, buffer, got, &put, nullptr) && put == got;
  }
  ok = ::CloseHandle(out) && ok;
  ::CloseHandle(in);
  ::QueryPerformanceCounter(&t1);
  std::printf("%d %.3f\n", ok ? 1 : 0,
              1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart));
  return ok ? 0 : 1;
}
