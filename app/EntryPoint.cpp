// The executable's entry routine: narrow the DLL search to the system directory before the C runtime,
// any static initialiser or any library of ours gets the chance to load something.
#include <windows.h>

extern "C" int WinMainCRTStartup(void);

extern "C" void HardenDllSearch(void) {
  wchar_t path[261];
  for (wchar_t& c : path) c = 0;
  UINT n = ::GetSystemDirectoryW(path, 261);
  if (n >= 261) n = 0;  // did not fit: the buffer holds nothing usable
  if (n > 0 && path[n - 1] != L'\\') path[n++] = L'\\';
  const wchar_t kKernel32[] = L"kernel32.dll";
  for (const wchar_t* s = kKernel32; *s && n < 260; ++s) path[n++] = *s;
  path[n] = 0;
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  if (HMODULE kernel = ::GetModuleHandleW(path)) {
    auto fn = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (fn) fn(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  ::ExitProcess(static_cast<UINT>(WinMainCRTStartup()));
}
