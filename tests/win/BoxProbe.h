#pragma once
// Watches for a dialog box that code under test shows modally on the calling thread: a thread
// timer fires inside the box's own message loop, finds the box, lets the test read the real
// window and then press a button or close it.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace boxprobe {

struct Control {
  bool exists = false;
  bool visible = false;
  RECT rect{};  // in the box's client coordinates
  std::wstring text;
  HFONT font = nullptr;
  LOGFONTW logFont{};  // of font, read while the box is up
  bool hasFont = false;
};

struct Snapshot {
  HWND box = nullptr;
  std::wstring caption;
  std::wstring className;
  RECT client{};
  RECT window{};
  Control text, left, right, check;  // 1002, 1000, 1001, 1003
};

inline std::wstring WindowText(HWND h) {
  const int n = ::GetWindowTextLengthW(h);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  ::GetWindowTextW(h, s.data(), n + 1);
  s.resize(static_cast<size_t>(n));
  return s;
}

inline Control ReadControl(HWND box, int id) {
  Control c;
  HWND h = ::GetDlgItem(box, id);
  if (!h) return c;
  c.exists = true;
  c.visible = (::GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE) != 0;
  ::GetWindowRect(h, &c.rect);
  ::MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&c.rect), 2);
  c.text = WindowText(h);
  c.font = reinterpret_cast<HFONT>(::SendMessageW(h, WM_GETFONT, 0, 0));
  c.hasFont = c.font && ::GetObjectW(c.font, sizeof c.logFont, &c.logFont) != 0;
  return c;
}

inline Snapshot Read(HWND box) {
  Snapshot s;
  s.box = box;
  s.caption = WindowText(box);
  wchar_t cls[64] = {};
  ::GetClassNameW(box, cls, 64);
  s.className = cls;
  ::GetClientRect(box, &s.client);
  ::GetWindowRect(box, &s.window);
  s.text = ReadControl(box, 1002);
  s.left = ReadControl(box, 1000);
  s.right = ReadControl(box, 1001);
  s.check = ReadControl(box, 1003);
  return s;
}

// Every static text of a box (the platform's message box keeps its message in one of them).
inline std::vector<std::wstring> StaticTexts(HWND box) {
  std::vector<std::wstring> texts;
  for (HWND c = ::GetWindow(box, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
    wchar_t cls[32] = {};
    ::GetClassNameW(c, cls, 32);
    if (::lstrcmpiW(cls, L"Static") == 0) texts.push_back(WindowText(c));
  }
  return texts;
}

// Called on every tick while the box is on screen, with the tick's number from 0; returns true
// when it has done everything it wants (typically after closing the box).
using Step = std::function<bool(HWND box, int tick)>;

struct State {
  Step step;
  int tick = 0;
  int idleTicks = 0;
  bool done = false;
  bool seen = false;
  HWND box = nullptr;
};

inline thread_local State* t_state = nullptr;

inline BOOL CALLBACK FindBox(HWND h, LPARAM lParam) {
  wchar_t cls[16] = {};
  ::GetClassNameW(h, cls, 16);
  if (::lstrcmpW(cls, L"#32770") == 0 && ::IsWindowVisible(h)) {
    *reinterpret_cast<HWND*>(lParam) = h;
    return FALSE;
  }
  return TRUE;
}

inline void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  State* s = t_state;
  if (!s || s->done) return;
  HWND box = nullptr;
  ::EnumThreadWindows(::GetCurrentThreadId(), &FindBox, reinterpret_cast<LPARAM>(&box));
  if (!box) {
    // Give up after ten seconds without a box, so that a hang shows as a failure, not a stall.
    if (++s->idleTicks > 200) s->done = true;
    return;
  }
  s->seen = true;
  s->box = box;
  if (s->step(box, s->tick++)) s->done = true;
}

// Runs show() on this thread while the timer watches for its box. seen tells whether a box ever
// appeared.
template <typename Show>
auto Run(Show show, Step step, bool* seen = nullptr) {
  State state;
  state.step = std::move(step);
  State* previous = t_state;
  t_state = &state;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &OnTimer);
  auto result = show();
  ::KillTimer(nullptr, timer);
  t_state = previous;
  if (seen) *seen = state.seen;
  return result;
}

// Presses a button of the box the way a mouse click does.
inline void Click(HWND box, int id) { ::PostMessageW(::GetDlgItem(box, id), BM_CLICK, 0, 0); }

// Writes what the window shows into a 24-bit BMP file (for people to look at; asserts nothing).
inline bool SaveScreenshot(HWND window, const std::wstring& path) {
  RECT rc;
  if (!::GetWindowRect(window, &rc)) return false;
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = ::GetDC(nullptr);
  HDC mem = ::CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = ::CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(mem, bmp);
  ::BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
  ::GdiFlush();
  ::SelectObject(mem, old);
  const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  const DWORD imageSize = stride * static_cast<DWORD>(h);
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
  fh.bfSize = fh.bfOffBits + imageSize;
  bool ok = false;
  HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ok = ::WriteFile(f, &fh, sizeof fh, &written, nullptr) &&
         ::WriteFile(f, &bi.bmiHeader, sizeof bi.bmiHeader, &written, nullptr) &&
         ::WriteFile(f, bits, imageSize, &written, nullptr);
    ::CloseHandle(f);
  }
  ::DeleteObject(bmp);
  ::DeleteDC(mem);
  ::ReleaseDC(nullptr, screen);
  return ok;
}

// build/win64/artifacts beside the test program's bin folder (created when missing).
inline std::wstring ArtifactPath(const wchar_t* name) {
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring dir(exe);
  dir = dir.substr(0, dir.find_last_of(L"\\/"));  // bin
  dir = dir.substr(0, dir.find_last_of(L"\\/"));  // build/win64
  dir += L"\\artifacts";
  ::CreateDirectoryW(dir.c_str(), nullptr);
  return dir + L"\\" + name;
}

}  // namespace boxprobe
