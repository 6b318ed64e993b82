// UpdateModuleSetup.exe: the package's payload module. Its whole parameter text is the launch line
// "Yes|program[|arguments]" or "No|program[|arguments]"; it runs the program with the arguments in
// its own current directory, waits for it and exits with the program's exit code.
#include <windows.h>

#include "module/ModuleExitCodes.h"

extern "C" int WinMainCRTStartup(void);

// The entry routine: the module runs in a folder full of files from a package, so the DLL search
// is narrowed to the system directory before the C runtime or anything else can load a library.
extern "C" void ModuleEntry(void) {
  wchar_t path[MAX_PATH + 1] = {};
  UINT n = ::GetSystemDirectoryW(path, MAX_PATH + 1);
  if (n > MAX_PATH - 14) n = 0;  // no room for "\kernel32.dll": look nothing up by a partial path
  if (n > 0) {
    if (path[n - 1] != L'\\') path[n++] = L'\\';
    for (const wchar_t* s = L"kernel32.dll"; *s; ++s) path[n++] = *s;
    path[n] = 0;
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    if (HMODULE kernel = ::GetModuleHandleW(path)) {
      auto fn = reinterpret_cast<SetDefaultDllDirectoriesFn>(
          reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
      if (fn) fn(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
  }
  ::ExitProcess(static_cast<UINT>(WinMainCRTStartup()));
}

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Skips the program name as the C runtime splits off argv[0] (double quotes toggle, white space
// outside them ends it), then the white space that separates it from the parameters.
const wchar_t* SkipProgramName(const wchar_t* p) {
  bool inQuotes = false;
  if (*p) {
    do {
      if (*p == L'"') inQuotes = !inQuotes;
      ++p;
    } while (*p && (inQuotes || !IsBlank(*p)));
  }
  while (IsBlank(*p)) ++p;
  return p;
}

bool SameText(const wchar_t* begin, const wchar_t* end, const wchar_t* text) {
  for (; begin != end; ++begin, ++text)
    if (*text == 0 || *begin != *text) return false;
  return *text == 0;
}

DWORD RunLaunchLine(const wchar_t* line) {
  const wchar_t* bar1 = line;
  while (*bar1 && *bar1 != L'|') ++bar1;
  if (!*bar1) return TESSEL_MODULE_EXIT_BAD_LAUNCH_LINE;
  if (!SameText(line, bar1, L"Yes") && !SameText(line, bar1, L"No"))
    return TESSEL_MODULE_EXIT_BAD_LAUNCH_LINE;

  // Only the first two bars separate: the arguments may hold bars of their own.
  const wchar_t* program = bar1 + 1;
  const wchar_t* programEnd = program;
  while (*programEnd && *programEnd != L'|') ++programEnd;
  const wchar_t* args = *programEnd ? programEnd + 1 : programEnd;

  bool blank = true, hasSpace = false;
  for (const wchar_t* p = program; p != programEnd; ++p) {
    if (!IsBlank(*p)) blank = false;
    else hasSpace = true;
  }
  if (blank) return TESSEL_MODULE_EXIT_BAD_LAUNCH_LINE;

  // A path with spaces is quoted, so that CreateProcessW cannot take a shorter prefix of it
  // ("C:\Program.exe") for the program; a program given in quotes already stays as it is.
  const bool quote = hasSpace && *program != L'"';
  size_t programLen = static_cast<size_t>(programEnd - program);
  size_t argsLen = 0;
  while (args[argsLen]) ++argsLen;
  size_t total = programLen + (quote ? 2 : 0) + (argsLen ? 1 + argsLen : 0) + 1;
  auto* cmd = static_cast<wchar_t*>(::HeapAlloc(::GetProcessHeap(), 0, total * sizeof(wchar_t)));
  if (!cmd) return TESSEL_MODULE_EXIT_CANNOT_START;
  wchar_t* out = cmd;
  if (quote) *out++ = L'"';
  for (const wchar_t* p = program; p != programEnd; ++p) *out++ = *p;
  if (quote) *out++ = L'"';
  if (argsLen) {
    *out++ = L' ';
    for (size_t i = 0; i < argsLen; ++i) *out++ = args[i];
  }
  *out = 0;

  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  // No current directory given: the program inherits ours, which the stub set to the work folder.
  BOOL started = ::CreateProcessW(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  ::HeapFree(::GetProcessHeap(), 0, cmd);
  if (!started) return TESSEL_MODULE_EXIT_CANNOT_START;
  ::CloseHandle(pi.hThread);

  DWORD code = TESSEL_MODULE_EXIT_LOST_PROGRAM;
  if (::WaitForSingleObject(pi.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(pi.hProcess, &code))
    code = TESSEL_MODULE_EXIT_LOST_PROGRAM;
  ::CloseHandle(pi.hProcess);
  return code;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  // The launch line is the raw parameter text: it is not split or unquoted like argv.
  return static_cast<int>(RunLaunchLine(SkipProgramName(::GetCommandLineW())));
}
