#include "tests/robot/Target.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>

namespace {

constexpr UINT kMessageTimeoutMs = 2000;

bool SendWithTimeout(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR& result) {
  result = 0;
  return ::SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG | SMTO_BLOCK, kMessageTimeoutMs,
                               &result) != 0;
}

void Rect(JsonLine& j, const char* key, int x, int y, int w, int h) {
  j.Key(key).Object().Field("x", x).Field("y", y).Field("w", w).Field("h", h).End();
}

void DescribeControl(JsonLine& j, HWND top, HWND c) {
  HWND parent = ::GetParent(c);
  RECT r{};
  ::GetWindowRect(c, &r);
  POINT pts[2] = {{r.left, r.top}, {r.right, r.bottom}};
  ::MapWindowPoints(nullptr, parent ? parent : top, pts, 2);
  std::wstring cls = ClassOf(c);
  LONG style = ::GetWindowLongW(c, GWL_STYLE);
  j.Object()
      .Field("hwnd", reinterpret_cast<uintptr_t>(c))
      .Field("parent", reinterpret_cast<uintptr_t>(parent))
      .Field("id", static_cast<int64_t>(::GetDlgCtrlID(c)))
      .Text("class", cls)
      .Text("text", TextOf(c))
      .Field("visible", ::IsWindowVisible(c) != FALSE)
      .Field("enabled", ::IsWindowEnabled(c) != FALSE)
      .Field("style", static_cast<uint64_t>(static_cast<DWORD>(style)));
  Rect(j, "rect", pts[0].x, pts[0].y, pts[1].x - pts[0].x, pts[1].y - pts[0].y);
  if (_wcsicmp(cls.c_str(), PROGRESS_CLASSW) == 0) {
    DWORD_PTR pos = 0, lo = 0, hi = 0;
    bool ok = SendWithTimeout(c, PBM_GETPOS, 0, 0, pos) && SendWithTimeout(c, PBM_GETRANGE, TRUE, 0, lo) &&
              SendWithTimeout(c, PBM_GETRANGE, FALSE, 0, hi);
    if (ok) {
      j.Key("progress").Object()
          .Field("pos", static_cast<int64_t>(static_cast<int>(pos)))
          .Field("min", static_cast<int64_t>(static_cast<int>(lo)))
          .Field("max", static_cast<int64_t>(static_cast<int>(hi)))
          .End();
    }
  } else if (_wcsicmp(cls.c_str(), L"Button") == 0) {
    LONG type = style & BS_TYPEMASK;
    if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE ||
        type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) {
      DWORD_PTR check = 0;
      if (SendWithTimeout(c, BM_GETCHECK, 0, 0, check)) j.Field("checked", static_cast<uint64_t>(check));
    }
    j.Field("default", type == BS_DEFPUSHBUTTON);
  }
  j.End();
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

bool Equal(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

bool ParseUnsigned(const std::wstring& text, unsigned long long& value) {
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  value = std::wcstoull(text.c_str(), &end, 0);
  return end && *end == 0;
}

}  // namespace

bool ContainsNoCase(const std::wstring& haystack, const std::wstring& needle) {
  auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                        [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); });
  return it != haystack.end();
}

void CProcessTree::Refresh() {
  HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return;
  // Wine starts its desktop and service processes on demand, as children of whichever program
  // first needed them; they are not the program's own and their windows are no part of it.
  static const wchar_t* const kSystemProcesses[] = {L"explorer.exe", L"services.exe", L"winedevice.exe",
                                                    L"plugplay.exe", L"svchost.exe",  L"rpcss.exe",
                                                    L"wineboot.exe"};
  std::vector<std::pair<DWORD, DWORD>> entries;  // pid, parent
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof(pe);
  for (BOOL ok = ::Process32FirstW(snap, &pe); ok; ok = ::Process32NextW(snap, &pe)) {
    bool system = false;
    for (const wchar_t* name : kSystemProcesses) system = system || _wcsicmp(pe.szExeFile, name) == 0;
    if (!system) entries.push_back({pe.th32ProcessID, pe.th32ParentProcessID});
  }
  ::CloseHandle(snap);
  const DWORD self = ::GetCurrentProcessId();
  for (bool grew = true; grew;) {
    grew = false;
    for (auto [pid, parent] : entries) {
      if (pid == self || pid == 0 || Contains(pid) || !Contains(parent)) continue;
      m_pids.push_back(pid);
      grew = true;
    }
  }
}

bool CProcessTree::Contains(DWORD pid) const {
  return std::find(m_pids.begin(), m_pids.end(), pid) != m_pids.end();
}

void CProcessTree::KillAll() {
  Refresh();
  for (DWORD pid : m_pids) {
    if (HANDLE h = ::OpenProcess(PROCESS_TERMINATE, FALSE, pid)) {
      ::TerminateProcess(h, 1);
      ::CloseHandle(h);
    }
  }
}

namespace {
struct EnumTop {
  CProcessTree* tree;
  std::vector<HWND> found;
};
BOOL CALLBACK CollectTop(HWND hwnd, LPARAM param) {
  auto* e = reinterpret_cast<EnumTop*>(param);
  if (e->tree->Contains(PidOf(hwnd))) e->found.push_back(hwnd);
  return TRUE;
}
}  // namespace

std::vector<HWND> TreeWindows(CProcessTree& tree) {
  tree.Refresh();
  EnumTop e{&tree, {}};
  ::EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&e));
  return e.found;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t buf[256] = {};
  int n = ::GetClassNameW(hwnd, buf, 256);
  return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring TextOf(HWND hwnd) {
  DWORD_PTR len = 0;
  if (!SendWithTimeout(hwnd, WM_GETTEXTLENGTH, 0, 0, len)) return {};
  std::wstring text(static_cast<size_t>(len) + 1, L'\0');
  DWORD_PTR got = 0;
  if (!SendWithTimeout(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), got)) return {};
  text.resize(std::min<size_t>(got, len));
  return text;
}

DWORD PidOf(HWND hwnd) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  return pid;
}

bool HasTaskbarButton(HWND hwnd) {
  if (!::IsWindowVisible(hwnd)) return false;
  LONG ex = ::GetWindowLongW(hwnd, GWL_EXSTYLE);
  if (ex & WS_EX_APPWINDOW) return true;
  return !(ex & WS_EX_TOOLWINDOW) && ::GetWindow(hwnd, GW_OWNER) == nullptr;
}

bool CoversPixels(HWND hwnd) {
  if (!::IsWindowVisible(hwnd) || ::IsIconic(hwnd)) return false;
  RECT r{};
  if (!::GetWindowRect(hwnd, &r) || r.right <= r.left || r.bottom <= r.top) return false;
  RECT screen{::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN), 0, 0};
  screen.right = screen.left + ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
  screen.bottom = screen.top + ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
  RECT both{};
  return ::IntersectRect(&both, &r, &screen) != FALSE;
}

void DescribeWindow(JsonLine& j, HWND hwnd, bool withControls) {
  RECT r{}, c{};
  ::GetWindowRect(hwnd, &r);
  ::GetClientRect(hwnd, &c);
  DWORD pid = 0;
  DWORD tid = ::GetWindowThreadProcessId(hwnd, &pid);
  wchar_t title[512] = {};
  ::GetWindowTextW(hwnd, title, 512);  // a top-level caption is read without sending to the target
  j.Object()
      .Field("hwnd", reinterpret_cast<uintptr_t>(hwnd))
      .Field("pid", static_cast<uint64_t>(pid))
      .Field("tid", static_cast<uint64_t>(tid))
      .Text("class", ClassOf(hwnd))
      .Text("title", title)
      .Field("visible", ::IsWindowVisible(hwnd) != FALSE)
      .Field("enabled", ::IsWindowEnabled(hwnd) != FALSE)
      .Field("iconic", ::IsIconic(hwnd) != FALSE)
      .Field("style", static_cast<uint64_t>(static_cast<DWORD>(::GetWindowLongW(hwnd, GWL_STYLE))))
      .Field("exstyle", static_cast<uint64_t>(static_cast<DWORD>(::GetWindowLongW(hwnd, GWL_EXSTYLE))))
      .Field("owner", reinterpret_cast<uintptr_t>(::GetWindow(hwnd, GW_OWNER)))
      .Field("foreground", ::GetForegroundWindow() == hwnd);
  Rect(j, "rect", r.left, r.top, r.right - r.left, r.bottom - r.top);
  j.Key("client").Object().Field("w", static_cast<int64_t>(c.right)).Field("h", static_cast<int64_t>(c.bottom)).End();
  j.Field("taskbar", HasTaskbarButton(hwnd)).Field("covers_pixels", CoversPixels(hwnd));
  if (withControls) {
    std::vector<HWND> children;
    ::EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&children));
    j.Key("controls").Array();
    for (HWND child : children) DescribeControl(j, hwnd, child);
    j.End();
  }
  j.End();
}

std::wstring WindowSignature(HWND hwnd) {
  wchar_t title[512] = {};
  ::GetWindowTextW(hwnd, title, 512);
  RECT r{};
  ::GetWindowRect(hwnd, &r);
  wchar_t buf[700];
  std::swprintf(buf, 700, L"%d|%d|%ld,%ld,%ld,%ld|%08lx|%08lx|%d|%ls", ::IsWindowVisible(hwnd) ? 1 : 0,
                ::IsIconic(hwnd) ? 1 : 0, r.left, r.top, r.right, r.bottom,
                static_cast<unsigned long>(::GetWindowLongW(hwnd, GWL_STYLE)),
                static_cast<unsigned long>(::GetWindowLongW(hwnd, GWL_EXSTYLE)), HasTaskbarButton(hwnd) ? 1 : 0,
                title);
  return buf;
}

bool ParseSelector(const std::wstring& text, Selector& sel, std::wstring& error) {
  if (Equal(text, L"main")) {
    sel.bMain = true;
    return true;
  }
  if (Equal(text, L"last")) {
    sel.bLast = true;
    return true;
  }
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(L';', pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring item = text.substr(pos, end - pos);
    pos = end + 1;
    if (item.empty()) continue;
    size_t eq = item.find(L'=');
    if (eq == std::wstring::npos) {
      error = L"selector item without '=': " + item;
      return false;
    }
    std::wstring key = item.substr(0, eq), value = item.substr(eq + 1);
    unsigned long long n = 0;
    if (Equal(key, L"class")) {
      sel.bHasClass = true;
      sel.strClass = value;
    } else if (Equal(key, L"title")) {
      sel.bHasTitle = true;
      sel.bTitleSub = !value.empty() && value[0] == L'~';
      sel.strTitle = sel.bTitleSub ? value.substr(1) : value;
    } else if (Equal(key, L"index") && ParseUnsigned(value, n)) {
      sel.nIndex = static_cast<int>(n);
    } else if (Equal(key, L"pid") && ParseUnsigned(value, n)) {
      sel.dwPid = static_cast<DWORD>(n);
    } else if (Equal(key, L"hwnd") && ParseUnsigned(value, n)) {
      sel.hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(n));
    } else if (Equal(key, L"visible") && Equal(value, L"any")) {
      sel.bAnyVisibility = true;
    } else {
      error = L"bad selector item: " + item;
      return false;
    }
  }
  return true;
}

HWND FindWindowBySelector(CProcessTree& tree, const Selector& sel, HWND last, bool requireSize) {
  auto sized = [&](HWND h) {
    RECT r{};
    return !requireSize || (::GetWindowRect(h, &r) && r.right > r.left && r.bottom > r.top);
  };
  if (sel.bLast) return last && ::IsWindow(last) && sized(last) ? last : nullptr;
  std::vector<HWND> windows = TreeWindows(tree);
  if (sel.hwnd)
    return std::find(windows.begin(), windows.end(), sel.hwnd) != windows.end() && sized(sel.hwnd) ? sel.hwnd
                                                                                                    : nullptr;
  int seen = 0;
  for (HWND h : windows) {
    if (!sel.bAnyVisibility && !::IsWindowVisible(h)) continue;
    if (sel.bMain && PidOf(h) != tree.Root()) continue;
    if (sel.dwPid && PidOf(h) != sel.dwPid) continue;
    if (sel.bHasClass && !Equal(ClassOf(h), sel.strClass)) continue;
    if (sel.bHasTitle) {
      wchar_t title[512] = {};
      ::GetWindowTextW(h, title, 512);
      if (sel.bTitleSub ? !ContainsNoCase(title, sel.strTitle) : sel.strTitle != title) continue;
    }
    if (!sized(h)) continue;
    if (seen++ == sel.nIndex) return h;
  }
  return nullptr;
}

std::wstring DescribeSelector(const Selector& sel) {
  if (sel.bMain && !sel.bHasClass && !sel.bHasTitle) return L"main";
  if (sel.bLast) return L"last";
  std::wstring out;
  auto add = [&](const std::wstring& item) { out += (out.empty() ? L"" : L";") + item; };
  if (sel.bMain) add(L"main");
  if (sel.bHasClass) add(L"class=" + sel.strClass);
  if (sel.bHasTitle) add(L"title=" + std::wstring(sel.bTitleSub ? L"~" : L"") + sel.strTitle);
  if (sel.nIndex) add(L"index=" + std::to_wstring(sel.nIndex));
  if (sel.dwPid) add(L"pid=" + std::to_wstring(sel.dwPid));
  if (sel.hwnd) add(L"hwnd=" + std::to_wstring(reinterpret_cast<uintptr_t>(sel.hwnd)));
  if (sel.bAnyVisibility) add(L"visible=any");
  return out.empty() ? L"any" : out;
}
