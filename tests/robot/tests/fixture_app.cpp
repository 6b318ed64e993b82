// A small GUI program for the robot's own tests. Modes (first argument):
//   (none)        a window "Fixture App" (class TesselFixture, client 300 x 150) with a label (id 100),
//                 a progress bar (id 101, range 0..1000, position 250) and an OK button (id 1).
//                 OK exits with 0x12345678, WM_CLOSE with 7, Escape seen by the message loop with 27.
//   spawn         runs this program without arguments as a child and exits with its exit code.
//   exit CODE     exits at once with CODE (decimal or 0x-hex).
//   tiny MS       a visible tool window at 0,0 of size 0 x 0 that exits with 0 after MS ms.
//   browse FILE   a folder dialog; writes the chosen path to FILE (UTF-8), exits 0, or 1 on cancel.
//   print         writes a line to standard output and exits with 5.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

constexpr int kExitOk = 0x12345678;
constexpr int kExitClosed = 7;
constexpr int kExitEscape = 27;

LRESULT CALLBACK FixtureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK && HIWORD(wp) == BN_CLICKED) {
        ::DestroyWindow(hwnd);
        ::PostQuitMessage(kExitOk);
        return 0;
      }
      break;
    case WM_CLOSE:
      ::DestroyWindow(hwnd);
      ::PostQuitMessage(kExitClosed);
      return 0;
    case WM_TIMER:
      ::DestroyWindow(hwnd);
      ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

int MessageLoop(bool escapeExits) {
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (escapeExits && msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) return kExitEscape;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

void Register(HINSTANCE inst) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = FixtureProc;
  wc.hInstance = inst;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"TesselFixture";
  ::RegisterClassExW(&wc);
}

int MainWindow(HINSTANCE inst) {
  Register(inst);
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT r{0, 0, 300, 150};
  ::AdjustWindowRectEx(&r, style, FALSE, 0);
  HWND hwnd = ::CreateWindowExW(0, L"TesselFixture", L"Fixture App", style, 100, 100, r.right - r.left,
                                r.bottom - r.top, nullptr, nullptr, inst, nullptr);
  ::CreateWindowExW(0, L"STATIC", L"Hello, robot", WS_CHILD | WS_VISIBLE, 10, 10, 200, 20, hwnd,
                    reinterpret_cast<HMENU>(100), inst, nullptr);
  HWND bar = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 40, 280, 16, hwnd,
                               reinterpret_cast<HMENU>(101), inst, nullptr);
  ::SendMessageW(bar, PBM_SETRANGE32, 0, 1000);
  ::SendMessageW(bar, PBM_SETPOS, 250, 0);
  HWND ok = ::CreateWindowExW(0, L"BUTTON", L"&OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 200, 110, 80,
                              25, hwnd, reinterpret_cast<HMENU>(IDOK), inst, nullptr);
  ::ShowWindow(hwnd, SW_SHOWNORMAL);
  ::UpdateWindow(hwnd);
  ::SetFocus(ok);
  return MessageLoop(true);
}

int TinyWindow(HINSTANCE inst, UINT ms) {
  Register(inst);
  HWND hwnd = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"TesselFixture", L"Tiny", WS_POPUP | WS_VISIBLE, 0, 0, 0, 0,
                                nullptr, nullptr, inst, nullptr);
  ::SetTimer(hwnd, 1, ms, nullptr);
  return MessageLoop(false);
}

int Spawn() {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring cmd = L"\"" + std::wstring(self) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 99;
  ::CloseHandle(pi.hThread);
  ::WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 98;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

int Browse(const wchar_t* outFile) {
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  BROWSEINFOW bi{};
  bi.lpszTitle = L"Pick a folder";
  bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_USENEWUI;
  PIDLIST_ABSOLUTE pidl = ::SHBrowseForFolderW(&bi);
  if (!pidl) return 1;
  wchar_t path[MAX_PATH] = {};
  ::SHGetPathFromIDListW(pidl, path);
  ::CoTaskMemFree(pidl);
  int n = ::WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8.data(), n, nullptr, nullptr);
  HANDLE f = ::CreateFileW(outFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  ::WriteFile(f, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  ::CloseHandle(f);
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, wchar_t*, int) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS | ICC_TREEVIEW_CLASSES};
  ::InitCommonControlsEx(&icc);
  const int argc = __argc;
  wchar_t** argv = __wargv;
  std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode.empty()) return MainWindow(inst);
  if (mode == L"spawn") return Spawn();
  if (mode == L"exit" && argc > 2) return static_cast<int>(std::wcstoul(argv[2], nullptr, 0));
  if (mode == L"tiny" && argc > 2) return TinyWindow(inst, static_cast<UINT>(std::wcstoul(argv[2], nullptr, 0)));
  if (mode == L"browse" && argc > 2) return Browse(argv[2]);
  if (mode == L"print") {
    DWORD written = 0;
    const char text[] = "{\"event\":\"fake\"} fixture output\n";
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text, sizeof text - 1, &written, nullptr);
    return 5;
  }
  return 64;
}
