// Test helper for the payload module: exits with the code given as its first argument (decimal or
// 0x-hex, full 32 bits) and, when TESSEL_EXITWITH_LOG names a file, first appends one JSON line to
// it with its raw command line, its argv and its current directory. TESSEL_EXITWITH_SLEEP_MS makes it
// wait that long before it exits.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::string Quoted(const std::wstring& w) {
  std::string out = "\"";
  for (char c : Utf8(w)) {
    if (c == '"' || c == '\\') { out += '\\'; out += c; }
    else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
      out += buf;
    } else out += c;
  }
  return out + "\"";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  int argc = __argc;
  wchar_t** argv = __wargv;
  wchar_t logPath[MAX_PATH] = {};
  if (::GetEnvironmentVariableW(L"TESSEL_EXITWITH_LOG", logPath, MAX_PATH) > 0) {
    wchar_t cwd[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, cwd);
    std::string line = "{\"cmdline\":" + Quoted(::GetCommandLineW()) + ",\"cwd\":" + Quoted(cwd) + ",\"argv\":[";
    for (int i = 0; i < argc; ++i) line += (i ? "," : "") + Quoted(argv[i]);
    line += "]}\n";
    HANDLE h = ::CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      ::WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      ::CloseHandle(h);
    }
  }
  wchar_t sleepMs[32] = {};
  if (::GetEnvironmentVariableW(L"TESSEL_EXITWITH_SLEEP_MS", sleepMs, 32) > 0) ::Sleep(std::wcstoul(sleepMs, nullptr, 10));
  unsigned long code = argc > 1 ? std::wcstoul(argv[1], nullptr, 0) : 0;
  return static_cast<int>(code);
}
