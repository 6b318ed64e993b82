// tessel-robot: drives a Windows program as a user would and writes what it saw as JSON Lines.
// Usage is described in tests/robot/README.md and by "tessel-robot --help".
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/robot/Json.h"
#include "tests/robot/Target.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 2;
constexpr int kExitTimeout = 3;
constexpr DWORD kDefaultWindowTimeoutMs = 10000;
constexpr DWORD kDefaultExitTimeoutMs = 120000;
constexpr DWORD kPollMs = 25;
constexpr UINT kSendTimeoutMs = 5000;

const wchar_t kUsage[] =
    L"usage: tessel-robot [--cwd DIR] [--no-sampling] [--script FILE] [--step \"STEP\"]... [--args-raw TEXT] -- PROGRAM [ARGS...]\n"
    L"       tessel-robot run [--cwd DIR] [--no-sampling] [--timeout MS] [--args-raw TEXT] -- PROGRAM [ARGS...]\n"
    L"steps: wait-window, wait-gone, dump, press, key, syscommand, close, send-message, screenshot,\n"
    L"       browse-select, watch, sleep, wait-exit (see tests/robot/README.md)\n";

// ---- Small text helpers --------------------------------------------------------------------------

bool Same(const std::wstring& a, const wchar_t* b) { return _wcsicmp(a.c_str(), b) == 0; }

bool ParseInt(const std::wstring& text, long long& value) {
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  if (text[0] == L'-') value = std::wcstoll(text.c_str(), &end, 0);
  else value = static_cast<long long>(std::wcstoull(text.c_str(), &end, 0));
  return end && *end == 0;
}

// Quotes one argument so that the C runtime's argv splitting gives it back unchanged.
std::wstring QuoteArg(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, L'\\');
  return out + L"\"";
}

// Splits a step line into words: white space separates, double quotes group, "" inside quotes is a
// literal quote. Backslashes are ordinary characters, so Windows paths need no escaping.
std::vector<std::wstring> SplitWords(const std::wstring& line) {
  std::vector<std::wstring> words;
  std::wstring word;
  bool inWord = false, quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    wchar_t c = line[i];
    if (quoted) {
      if (c == L'"') {
        if (i + 1 < line.size() && line[i + 1] == L'"') {
          word += L'"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        word += c;
      }
    } else if (c == L'"') {
      quoted = inWord = true;
    } else if (std::iswspace(c)) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

// ---- Steps ----------------------------------------------------------------------------------------

struct Step {
  std::wstring strName;
  std::vector<std::wstring> positional;
  std::map<std::wstring, std::wstring> options;
  std::set<std::wstring> flags;
  std::wstring strSource;
  bool Has(const wchar_t* option) const { return options.count(option) != 0; }
  std::wstring Get(const wchar_t* option) const {
    auto it = options.find(option);
    return it == options.end() ? std::wstring() : it->second;
  }
};

struct StepSpec {
  const wchar_t* name;
  std::vector<const wchar_t*> options;
  std::vector<const wchar_t*> flags;
  size_t minPositional, maxPositional;
  bool bSelector;
};

const std::vector<StepSpec>& Specs() {
  static const std::vector<StepSpec> specs = {
      {L"wait-window", {L"--timeout"}, {L"--any-size"}, 0, 0, true},
      {L"wait-gone", {L"--timeout"}, {}, 0, 0, true},
      {L"dump", {}, {L"--visible-only"}, 0, 0, false},
      {L"press", {L"--button", L"--method"}, {}, 0, 0, true},
      {L"key", {L"--to"}, {}, 1, 1, true},
      {L"syscommand", {}, {}, 1, 1, true},
      {L"close", {}, {}, 0, 0, true},
      {L"send-message", {L"--control"}, {L"--post"}, 1, 3, true},
      {L"screenshot", {}, {}, 1, 1, true},
      {L"browse-select", {L"--path", L"--timeout"}, {L"--no-ok"}, 0, 0, true},
      {L"watch", {L"--interval", L"--duration"}, {}, 0, 0, false},
      {L"sleep", {}, {}, 1, 1, false},
      {L"wait-exit", {L"--timeout"}, {}, 0, 0, false},
  };
  return specs;
}

bool ParseStep(const std::wstring& line, Step& step, std::wstring& error) {
  std::vector<std::wstring> words = SplitWords(line);
  step.strSource = line;
  if (words.empty()) {
    error = L"empty step";
    return false;
  }
  step.strName = words[0];
  const StepSpec* spec = nullptr;
  for (const StepSpec& s : Specs())
    if (step.strName == s.name) spec = &s;
  if (!spec) {
    error = L"unknown step: " + step.strName;
    return false;
  }
  std::vector<const wchar_t*> options = spec->options;
  if (spec->bSelector)
    for (const wchar_t* o : {L"--window", L"--class", L"--title", L"--index", L"--pid"}) options.push_back(o);
  for (size_t i = 1; i < words.size(); ++i) {
    const std::wstring& w = words[i];
    if (w.size() > 2 && w.compare(0, 2, L"--") == 0) {
      bool known = false;
      for (const wchar_t* f : spec->flags)
        if (w == f) known = true, step.flags.insert(w);
      for (const wchar_t* o : options) {
        if (w != o) continue;
        if (i + 1 >= words.size()) {
          error = w + L" needs a value";
          return false;
        }
        known = true;
        step.options[w] = words[++i];
      }
      if (!known) {
        error = L"unknown option for " + step.strName + L": " + w;
        return false;
      }
    } else {
      step.positional.push_back(w);
    }
  }
  if (step.positional.size() < spec->minPositional || step.positional.size() > spec->maxPositional) {
    error = L"wrong number of arguments for " + step.strName;
    return false;
  }
  return true;
}

// ---- The run --------------------------------------------------------------------------------------

struct Run {
  PROCESS_INFORMATION pi{};
  volatile LONG64 nPeakSampled = 0;  // largest peak working set seen while the program ran
  HANDLE hSampler = nullptr;
  CProcessTree* pTree = nullptr;
  HWND hwndLast = nullptr;
  ULONGLONG t0 = 0;
  int nStep = 0;
};

JsonLine Begin(const Run& run, const std::wstring& event) {
  JsonLine j;
  j.Text("event", event).Field("step", static_cast<int64_t>(run.nStep));
  j.Field("t_ms", static_cast<uint64_t>(::GetTickCount64() - run.t0));
  return j;
}

void PrintError(const Run& run, const std::wstring& command, const std::wstring& message, DWORD win32 = 0) {
  JsonLine j = Begin(run, L"error");
  j.Text("command", command).Text("message", message);
  if (win32) j.Field("win32_error", static_cast<uint64_t>(win32));
  j.Emit();
}

bool RootExited(const Run& run) { return ::WaitForSingleObject(run.pi.hProcess, 0) == WAIT_OBJECT_0; }

DWORD TimeoutOf(const Step& step, DWORD fallback) {
  long long v = 0;
  if (!step.Has(L"--timeout") || !ParseInt(step.Get(L"--timeout"), v) || v < 0) return fallback;
  return v == 0 ? INFINITE : static_cast<DWORD>(v);
}

bool MakeSelector(const Step& step, bool defaultMain, Selector& sel, std::wstring& error) {
  if (step.Has(L"--window") && !ParseSelector(step.Get(L"--window"), sel, error)) return false;
  if (step.Has(L"--class")) {
    sel.bHasClass = true;
    sel.strClass = step.Get(L"--class");
  }
  if (step.Has(L"--title")) {
    std::wstring t = step.Get(L"--title");
    sel.bHasTitle = true;
    sel.bTitleSub = !t.empty() && t[0] == L'~';
    sel.strTitle = sel.bTitleSub ? t.substr(1) : t;
  }
  long long n = 0;
  if (step.Has(L"--index")) {
    if (!ParseInt(step.Get(L"--index"), n) || n < 0) return error = L"bad --index", false;
    sel.nIndex = static_cast<int>(n);
  }
  if (step.Has(L"--pid")) {
    if (!ParseInt(step.Get(L"--pid"), n) || n <= 0) return error = L"bad --pid", false;
    sel.dwPid = static_cast<DWORD>(n);
  }
  if (sel.Empty() && defaultMain) sel.bMain = true;
  return true;
}

// Resolves the step's window or prints the error.
HWND TargetWindow(Run& run, const Step& step, std::wstring& error) {
  Selector sel;
  if (!MakeSelector(step, true, sel, error)) return nullptr;
  HWND h = FindWindowBySelector(*run.pTree, sel, run.hwndLast, false);
  if (!h) error = L"no window matches " + DescribeSelector(sel);
  return h;
}

void Pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

// ---- wait-window / wait-gone ----------------------------------------------------------------------

bool StepWaitWindow(Run& run, const Step& step, std::wstring& error) {
  Selector sel;
  if (!MakeSelector(step, false, sel, error)) return false;
  const DWORD timeout = TimeoutOf(step, kDefaultWindowTimeoutMs);
  const bool anySize = step.flags.count(L"--any-size") != 0;
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    if (HWND h = FindWindowBySelector(*run.pTree, sel, run.hwndLast, !anySize)) {
      run.hwndLast = h;
      JsonLine j = Begin(run, step.strName);
      j.Text("selector", DescribeSelector(sel)).Field("waited_ms", ::GetTickCount64() - start);
      DescribeWindow(j.Key("window"), h, true);
      j.Emit();
      return true;
    }
    if (RootExited(run)) {
      error = L"the program ended before a window matched " + DescribeSelector(sel);
      return false;
    }
    if (timeout != INFINITE && ::GetTickCount64() - start >= timeout) {
      error = L"timed out waiting for a window matching " + DescribeSelector(sel);
      return false;
    }
    ::Sleep(kPollMs);
  }
}

bool StepWaitGone(Run& run, const Step& step, std::wstring& error) {
  Selector sel;
  if (!MakeSelector(step, true, sel, error)) return false;
  // "last" is gone once that very window is hidden or destroyed.
  const DWORD timeout = TimeoutOf(step, kDefaultWindowTimeoutMs);
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    HWND h = FindWindowBySelector(*run.pTree, sel, run.hwndLast, false);
    if (h && sel.bLast && !::IsWindowVisible(h)) h = nullptr;
    if (!h) {
      Begin(run, step.strName).Text("selector", DescribeSelector(sel)).Field("waited_ms", ::GetTickCount64() - start).Emit();
      return true;
    }
    if (timeout != INFINITE && ::GetTickCount64() - start >= timeout) {
      error = L"timed out waiting for the window to go: " + DescribeSelector(sel);
      return false;
    }
    ::Sleep(kPollMs);
  }
}

// ---- dump -----------------------------------------------------------------------------------------

bool StepDump(Run& run, const Step& step, std::wstring&) {
  const bool visibleOnly = step.flags.count(L"--visible-only") != 0;
  std::vector<HWND> windows = TreeWindows(*run.pTree);
  JsonLine j = Begin(run, step.strName);
  j.Key("pids").Array();
  for (DWORD pid : run.pTree->Pids()) j.UInt(pid);
  j.End();
  j.Key("windows").Array();
  for (HWND h : windows)
    if (!visibleOnly || ::IsWindowVisible(h)) DescribeWindow(j, h, true);
  j.End();
  j.Emit();
  return true;
}

// ---- press ----------------------------------------------------------------------------------------

std::wstring WithoutMnemonics(const std::wstring& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

BOOL CALLBACK CollectDescendant(HWND hwnd, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> Descendants(HWND top) {
  std::vector<HWND> all;
  ::EnumChildWindows(top, CollectDescendant, reinterpret_cast<LPARAM>(&all));
  return all;
}

// A control by numeric id, or a button by its text (mnemonic "&" ignored, any case, "~" substring).
HWND FindControl(HWND top, const std::wstring& what, bool buttonsOnly) {
  long long id = 0;
  bool byId = ParseInt(what, id);
  bool sub = !what.empty() && what[0] == L'~';
  std::wstring want = WithoutMnemonics(sub ? what.substr(1) : what);
  // A user can only press what is shown: a visible match wins over a hidden one with the same text.
  HWND hidden = nullptr;
  for (HWND c : Descendants(top)) {
    if (byId) {
      if (::GetDlgCtrlID(c) == static_cast<int>(id)) return c;
      continue;
    }
    if (buttonsOnly && !Same(ClassOf(c), L"Button")) continue;
    std::wstring text = WithoutMnemonics(TextOf(c));
    if (sub ? ContainsNoCase(text, want) : _wcsicmp(text.c_str(), want.c_str()) == 0) {
      if (::IsWindowVisible(c)) return c;
      if (!hidden) hidden = c;
    }
  }
  return hidden;
}

bool StepPress(Run& run, const Step& step, std::wstring& error) {
  if (!step.Has(L"--button")) return error = L"press needs --button", false;
  HWND top = TargetWindow(run, step, error);
  if (!top) return false;
  HWND button = FindControl(top, step.Get(L"--button"), true);
  if (!button) return error = L"no button " + step.Get(L"--button"), false;
  if (!::IsWindowEnabled(button)) return error = L"the button is disabled: " + step.Get(L"--button"), false;
  std::wstring method = step.Has(L"--method") ? step.Get(L"--method") : L"click";
  const int id = ::GetDlgCtrlID(button);
  const std::wstring text = TextOf(button);  // before the click, which may destroy the button
  BOOL posted = FALSE;
  if (Same(method, L"click")) {
    posted = ::PostMessageW(button, BM_CLICK, 0, 0);
  } else if (Same(method, L"command")) {
    posted = ::PostMessageW(::GetParent(button), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                            reinterpret_cast<LPARAM>(button));
  } else {
    return error = L"--method is click or command", false;
  }
  if (!posted) return error = L"PostMessage failed", false;
  Begin(run, step.strName)
      .Field("window", reinterpret_cast<uintptr_t>(top))
      .Field("button", reinterpret_cast<uintptr_t>(button))
      .Field("id", static_cast<int64_t>(id))
      .Text("text", text)
      .Text("method", method)
      .Emit();
  return true;
}

// ---- key ------------------------------------------------------------------------------------------

struct KeyName {
  const wchar_t* name;
  UINT vk;
};
const KeyName kKeys[] = {
    {L"ESCAPE", VK_ESCAPE}, {L"ESC", VK_ESCAPE},   {L"RETURN", VK_RETURN}, {L"ENTER", VK_RETURN},
    {L"TAB", VK_TAB},       {L"SPACE", VK_SPACE},  {L"BACK", VK_BACK},     {L"BACKSPACE", VK_BACK},
    {L"DELETE", VK_DELETE}, {L"INSERT", VK_INSERT}, {L"HOME", VK_HOME},    {L"END", VK_END},
    {L"PRIOR", VK_PRIOR},   {L"NEXT", VK_NEXT},    {L"UP", VK_UP},         {L"DOWN", VK_DOWN},
    {L"LEFT", VK_LEFT},     {L"RIGHT", VK_RIGHT},  {L"APPS", VK_APPS},     {L"MENU", VK_MENU},
    {L"ALT", VK_MENU},      {L"CONTROL", VK_CONTROL}, {L"SHIFT", VK_SHIFT},
};

bool ParseKey(std::wstring text, UINT& vk, bool& alt, bool& ctrl, bool& shift) {
  alt = ctrl = shift = false;
  for (;;) {
    size_t plus = text.find(L'+');
    if (plus == std::wstring::npos || plus + 1 == text.size()) break;
    std::wstring mod = text.substr(0, plus);
    if (Same(mod, L"alt")) alt = true;
    else if (Same(mod, L"ctrl") || Same(mod, L"control")) ctrl = true;
    else if (Same(mod, L"shift")) shift = true;
    else return false;
    text = text.substr(plus + 1);
  }
  if (text.size() > 2 && (text[0] == L'f' || text[0] == L'F') && std::iswdigit(text[1])) {
    long long n = 0;
    if (!ParseInt(text.substr(1), n) || n < 1 || n > 24) return false;
    vk = VK_F1 + static_cast<UINT>(n - 1);
    return true;
  }
  if (text.size() == 2 && (text[0] == L'f' || text[0] == L'F') && std::iswdigit(text[1])) {
    vk = VK_F1 + static_cast<UINT>(text[1] - L'1');
    return text[1] != L'0';
  }
  if (text.size() == 1 && std::iswalnum(text[0])) {
    vk = std::towupper(text[0]);
    return true;
  }
  for (const KeyName& k : kKeys)
    if (Same(text, k.name)) return vk = k.vk, true;
  long long n = 0;
  if (text.size() > 2 && text[0] == L'0' && ParseInt(text, n) && n > 0 && n < 256) return vk = static_cast<UINT>(n), true;
  return false;
}

LPARAM KeyLParam(UINT vk, bool up, bool alt) {
  LPARAM lp = 1 | (static_cast<LPARAM>(::MapVirtualKeyW(vk, MAPVK_VK_TO_VSC) & 0xFF) << 16);
  if (alt) lp |= 1 << 29;
  if (up) lp |= (1u << 30) | (1u << 31);
  return lp;
}

bool StepKey(Run& run, const Step& step, std::wstring& error) {
  UINT vk = 0;
  bool alt = false, ctrl = false, shift = false;
  if (!ParseKey(step.positional[0], vk, alt, ctrl, shift)) return error = L"unknown key " + step.positional[0], false;
  HWND top = TargetWindow(run, step, error);
  if (!top) return false;
  // The keys go where keyboard input would: the focus window of the target's thread, when it lies
  // inside the chosen window; otherwise the window itself.
  HWND dest = top;
  std::wstring to = step.Has(L"--to") ? step.Get(L"--to") : L"focus";
  if (Same(to, L"focus")) {
    GUITHREADINFO gti{};
    gti.cbSize = sizeof(gti);
    if (::GetGUIThreadInfo(::GetWindowThreadProcessId(top, nullptr), &gti) && gti.hwndFocus &&
        (gti.hwndFocus == top || ::IsChild(top, gti.hwndFocus)))
      dest = gti.hwndFocus;
  } else if (!Same(to, L"window")) {
    dest = FindControl(top, to, false);
    if (!dest) return error = L"no control " + to, false;
  }
  std::vector<MSG> seq;
  auto add = [&](UINT msg, UINT key, bool up, bool altBit) {
    MSG m{};
    m.message = msg;
    m.wParam = key;
    m.lParam = KeyLParam(key, up, altBit);
    seq.push_back(m);
  };
  if (ctrl) add(WM_KEYDOWN, VK_CONTROL, false, false);
  if (shift) add(WM_KEYDOWN, VK_SHIFT, false, false);
  // Alt is carried by the context bit of WM_SYSKEYDOWN/UP; no separate Alt press is posted, so
  // the target's window menu is not entered by a lone Alt release.
  add(alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, false, alt);
  add(alt ? WM_SYSKEYUP : WM_KEYUP, vk, true, alt);
  if (shift) add(WM_KEYUP, VK_SHIFT, true, false);
  if (ctrl) add(WM_KEYUP, VK_CONTROL, true, false);
  for (const MSG& m : seq)
    if (!::PostMessageW(dest, m.message, m.wParam, m.lParam)) return error = L"PostMessage failed", false;
  Begin(run, step.strName)
      .Field("window", reinterpret_cast<uintptr_t>(top))
      .Field("to", reinterpret_cast<uintptr_t>(dest))
      .Text("to_class", ClassOf(dest))
      .Text("key", step.positional[0])
      .Field("vk", static_cast<uint64_t>(vk))
      .Field("alt", alt)
      .Emit();
  return true;
}

// ---- syscommand, close, send-message ----------------------------------------------------------------

struct NamedValue {
  const wchar_t* name;
  UINT value;
};
const NamedValue kSysCommands[] = {
    {L"SC_CLOSE", SC_CLOSE},     {L"SC_MINIMIZE", SC_MINIMIZE}, {L"SC_MAXIMIZE", SC_MAXIMIZE},
    {L"SC_RESTORE", SC_RESTORE}, {L"SC_MOVE", SC_MOVE},         {L"SC_SIZE", SC_SIZE},
    {L"SC_KEYMENU", SC_KEYMENU}, {L"SC_CONTEXTHELP", SC_CONTEXTHELP},
};
const NamedValue kMessages[] = {
    {L"WM_NULL", WM_NULL},           {L"WM_CLOSE", WM_CLOSE},         {L"WM_QUIT", WM_QUIT},
    {L"WM_COMMAND", WM_COMMAND},     {L"WM_SYSCOMMAND", WM_SYSCOMMAND}, {L"WM_KEYDOWN", WM_KEYDOWN},
    {L"WM_KEYUP", WM_KEYUP},         {L"WM_SYSKEYDOWN", WM_SYSKEYDOWN}, {L"WM_SYSKEYUP", WM_SYSKEYUP},
    {L"WM_CHAR", WM_CHAR},           {L"WM_KEYF1", 0x004D},           {L"WM_TIMER", WM_TIMER},
    {L"WM_SETTINGCHANGE", WM_SETTINGCHANGE}, {L"WM_USER", WM_USER},   {L"WM_APP", WM_APP},
    {L"WM_ENDSESSION", WM_ENDSESSION}, {L"WM_QUERYENDSESSION", WM_QUERYENDSESSION},
};

template <size_t N>
bool ParseNamed(const std::wstring& text, const NamedValue (&table)[N], long long& value) {
  for (const NamedValue& v : table)
    if (Same(text, v.name)) return value = v.value, true;
  return ParseInt(text, value);
}

bool StepSysCommand(Run& run, const Step& step, std::wstring& error) {
  long long cmd = 0;
  if (!ParseNamed(step.positional[0], kSysCommands, cmd)) return error = L"unknown command " + step.positional[0], false;
  HWND top = TargetWindow(run, step, error);
  if (!top) return false;
  if (!::PostMessageW(top, WM_SYSCOMMAND, static_cast<WPARAM>(cmd), 0)) return error = L"PostMessage failed", false;
  Begin(run, step.strName).Field("window", reinterpret_cast<uintptr_t>(top)).Field("command", static_cast<int64_t>(cmd)).Emit();
  return true;
}

bool StepClose(Run& run, const Step& step, std::wstring& error) {
  HWND top = TargetWindow(run, step, error);
  if (!top) return false;
  if (!::PostMessageW(top, WM_CLOSE, 0, 0)) return error = L"PostMessage failed", false;
  Begin(run, step.strName).Field("window", reinterpret_cast<uintptr_t>(top)).Emit();
  return true;
}

bool StepSendMessage(Run& run, const Step& step, std::wstring& error) {
  long long msg = 0, wp = 0, lp = 0;
  if (!ParseNamed(step.positional[0], kMessages, msg)) return error = L"unknown message " + step.positional[0], false;
  if (step.positional.size() > 1 && !ParseNamed(step.positional[1], kSysCommands, wp)) return error = L"bad WPARAM", false;
  if (step.positional.size() > 2 && !ParseInt(step.positional[2], lp)) return error = L"bad LPARAM", false;
  HWND top = TargetWindow(run, step, error);
  if (!top) return false;
  HWND dest = top;
  if (step.Has(L"--control")) {
    dest = FindControl(top, step.Get(L"--control"), false);
    if (!dest) return error = L"no control " + step.Get(L"--control"), false;
  }
  JsonLine j = Begin(run, step.strName);
  j.Field("window", reinterpret_cast<uintptr_t>(dest)).Field("message", static_cast<int64_t>(msg));
  if (step.flags.count(L"--post")) {
    if (!::PostMessageW(dest, static_cast<UINT>(msg), static_cast<WPARAM>(wp), static_cast<LPARAM>(lp)))
      return error = L"PostMessage failed", false;
    j.Field("posted", true);
  } else {
    DWORD_PTR result = 0;
    bool answered = ::SendMessageTimeoutW(dest, static_cast<UINT>(msg), static_cast<WPARAM>(wp),
                                          static_cast<LPARAM>(lp), SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) != 0;
    j.Field("answered", answered);
    if (answered) j.Field("result", static_cast<int64_t>(static_cast<LONG_PTR>(result)));
  }
  j.Emit();
  return true;
}

// ---- screenshot -----------------------------------------------------------------------------------

bool WriteBmp(const std::wstring& path, int w, int h, const void* bits, std::wstring& error) {
  const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  const DWORD size = stride * static_cast<DWORD>(h);
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  fh.bfSize = fh.bfOffBits + size;
  BITMAPINFOHEADER ih{};
  ih.biSize = sizeof(ih);
  ih.biWidth = w;
  ih.biHeight = h;
  ih.biPlanes = 1;
  ih.biBitCount = 24;
  ih.biCompression = BI_RGB;
  ih.biSizeImage = size;
  HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return error = L"cannot create " + path, false;
  DWORD written = 0;
  bool ok = ::WriteFile(f, &fh, sizeof(fh), &written, nullptr) && ::WriteFile(f, &ih, sizeof(ih), &written, nullptr) &&
            ::WriteFile(f, bits, size, &written, nullptr) && written == size;
  ::CloseHandle(f);
  if (!ok) error = L"cannot write " + path;
  return ok;
}

bool StepScreenshot(Run& run, const Step& step, std::wstring& error) {
  HWND top = TargetWindow(run, step, error);
  if (!top) return false;
  const std::wstring& path = step.positional[0];
  RECT r{};
  ::GetWindowRect(top, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  JsonLine j = Begin(run, step.strName);
  j.Field("window", reinterpret_cast<uintptr_t>(top)).Text("file", path).Field("width", static_cast<int64_t>(w)).Field("height", static_cast<int64_t>(h));
  if (w <= 0 || h <= 0) {
    // Nothing to picture; an artifact, not a check, so the scenario goes on.
    j.Field("written", false).Text("reason", "zero size").Emit();
    return true;
  }
  HDC screen = ::GetDC(nullptr);
  HDC mem = ::CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = ::CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = dib && mem;
  const char* method = "PrintWindow";
  if (ok) {
    HGDIOBJ old = ::SelectObject(mem, dib);
    if (!::PrintWindow(top, mem, 0)) {
      method = "BitBlt";
      ::BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    }
    ::GdiFlush();
    ok = WriteBmp(path, w, h, bits, error);
    ::SelectObject(mem, old);
  } else {
    error = L"cannot create a bitmap";
  }
  if (dib) ::DeleteObject(dib);
  if (mem) ::DeleteDC(mem);
  ::ReleaseDC(nullptr, screen);
  if (!ok) return false;
  j.Field("written", true).Text("method", method).Emit();
  return true;
}

// ---- browse-select --------------------------------------------------------------------------------

// TreeView messages carry pointers, which are not carried across processes: the item structure
// and the text buffer live in memory allocated inside the target.
class CRemoteTree {
 public:
  CRemoteTree(HWND tree) : m_hwndTree(tree) {}
  ~CRemoteTree() {
    if (m_pRemote) ::VirtualFreeEx(m_hProcess, m_pRemote, 0, MEM_RELEASE);
    if (m_hProcess) ::CloseHandle(m_hProcess);
  }
  bool Open(std::wstring& error) {
    m_hProcess = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                               FALSE, PidOf(m_hwndTree));
    if (!m_hProcess) return error = L"cannot open the dialog's process", false;
    BOOL selfWow = FALSE, targetWow = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &selfWow);
    ::IsWow64Process(m_hProcess, &targetWow);
    if (selfWow != targetWow) return error = L"browse-select needs a robot built for the target's bitness", false;
    m_pRemote = static_cast<BYTE*>(::VirtualAllocEx(m_hProcess, nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!m_pRemote) return error = L"cannot allocate memory in the dialog's process", false;
    return true;
  }
  HTREEITEM Next(HTREEITEM item, UINT how) {
    DWORD_PTR r = 0;
    ::SendMessageTimeoutW(m_hwndTree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item), SMTO_ABORTIFHUNG,
                          kSendTimeoutMs, &r);
    return reinterpret_cast<HTREEITEM>(r);
  }
  std::wstring Text(HTREEITEM item) {
    TVITEMW tv{};
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = item;
    tv.pszText = reinterpret_cast<wchar_t*>(m_pRemote + kTextOffset);
    tv.cchTextMax = kTextChars;
    wchar_t text[kTextChars] = {};
    SIZE_T n = 0;
    if (!::WriteProcessMemory(m_hProcess, m_pRemote, &tv, sizeof(tv), &n) ||
        !::WriteProcessMemory(m_hProcess, m_pRemote + kTextOffset, text, sizeof(wchar_t), &n))
      return {};
    DWORD_PTR r = 0;
    if (!::SendMessageTimeoutW(m_hwndTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(m_pRemote), SMTO_ABORTIFHUNG,
                               kSendTimeoutMs, &r) || !r)
      return {};
    // The control may point pszText at a buffer of its own.
    if (!::ReadProcessMemory(m_hProcess, m_pRemote, &tv, sizeof(tv), &n)) return {};
    if (!tv.pszText || !::ReadProcessMemory(m_hProcess, tv.pszText, text, sizeof(text) - sizeof(wchar_t), &n)) {
      if (!::ReadProcessMemory(m_hProcess, m_pRemote + kTextOffset, text, sizeof(text) - sizeof(wchar_t), &n))
        return {};
    }
    text[kTextChars - 1] = 0;
    return text;
  }
  std::vector<HTREEITEM> Children(HTREEITEM item) {
    std::vector<HTREEITEM> out;
    for (HTREEITEM c = Next(item, TVGN_CHILD); c && out.size() < 10000; c = Next(c, TVGN_NEXT)) out.push_back(c);
    return out;
  }
  // Expands like a user: the first expansion makes the folder dialog fill in the children.
  std::vector<HTREEITEM> Expand(HTREEITEM item) {
    DWORD_PTR r = 0;
    ::SendMessageTimeoutW(m_hwndTree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item), SMTO_ABORTIFHUNG,
                          kSendTimeoutMs, &r);
    std::vector<HTREEITEM> kids = Children(item);
    if (kids.empty()) {
      // Some trees fill children only on the notification that keyboard expansion sends.
      Select(item);
      ::SendMessageTimeoutW(m_hwndTree, WM_KEYDOWN, VK_RIGHT, KeyLParam(VK_RIGHT, false, false), SMTO_ABORTIFHUNG,
                            kSendTimeoutMs, &r);
      ::SendMessageTimeoutW(m_hwndTree, WM_KEYUP, VK_RIGHT, KeyLParam(VK_RIGHT, true, false), SMTO_ABORTIFHUNG,
                            kSendTimeoutMs, &r);
      kids = Children(item);
    }
    return kids;
  }
  bool Select(HTREEITEM item) {
    DWORD_PTR r = 0;
    ::SendMessageTimeoutW(m_hwndTree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item), SMTO_ABORTIFHUNG,
                          kSendTimeoutMs, &r);
    ::SendMessageTimeoutW(m_hwndTree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item), SMTO_ABORTIFHUNG,
                          kSendTimeoutMs, &r);
    return r != 0 || Next(nullptr, TVGN_CARET) == item;
  }

 private:
  static constexpr SIZE_T kSize = 8192;
  static constexpr SIZE_T kTextOffset = 1024;
  static constexpr int kTextChars = 1024;
  HWND m_hwndTree;
  HANDLE m_hProcess = nullptr;
  BYTE* m_pRemote = nullptr;
};

HWND FindFolderTree(HWND top) {
  for (HWND c : Descendants(top))
    if (::GetDlgCtrlID(c) == 14145 && Same(ClassOf(c), WC_TREEVIEWW)) return c;
  return nullptr;
}

bool IsDriveItem(const std::wstring& text, wchar_t letter) {
  wchar_t paren[] = {L'(', letter, L':', L')', 0};
  wchar_t bare[] = {letter, L':', 0};
  wchar_t root[] = {letter, L':', L'\\', 0};
  std::wstring upper = text;
  for (wchar_t& c : upper) c = std::towupper(c);
  return upper.find(paren) != std::wstring::npos || upper == bare || upper == root;
}

bool StepBrowseSelect(Run& run, const Step& step, std::wstring& error) {
  std::wstring path = step.Get(L"--path");
  if (path.size() < 2 || path[1] != L':' || !std::iswalpha(path[0]))
    return error = L"browse-select needs --path with a drive letter, e.g. C:\\folder", false;
  // The dialog: the chosen window, or the first visible one of the tree that holds the folder tree.
  Selector sel;
  if (!MakeSelector(step, false, sel, error)) return false;
  const DWORD timeout = TimeoutOf(step, kDefaultWindowTimeoutMs);
  const ULONGLONG start = ::GetTickCount64();
  HWND dialog = nullptr, tree = nullptr;
  for (;;) {
    if (!sel.Empty()) {
      dialog = FindWindowBySelector(*run.pTree, sel, run.hwndLast, true);
      tree = dialog ? FindFolderTree(dialog) : nullptr;
    } else {
      for (HWND h : TreeWindows(*run.pTree))
        if (::IsWindowVisible(h) && (tree = FindFolderTree(h)) != nullptr) {
          dialog = h;
          break;
        }
    }
    if (tree) break;
    if (RootExited(run)) return error = L"the program ended before a folder dialog appeared", false;
    if (timeout != INFINITE && ::GetTickCount64() - start >= timeout)
      return error = L"no folder dialog with a folder tree (SysTreeView32, id 14145)", false;
    ::Sleep(kPollMs);
  }
  CRemoteTree remote(tree);
  if (!remote.Open(error)) return false;

  std::vector<std::wstring> parts;
  for (size_t pos = 3; pos < path.size();) {
    size_t end = path.find(L'\\', pos);
    if (end == std::wstring::npos) end = path.size();
    if (end > pos) parts.push_back(path.substr(pos, end - pos));
    pos = end + 1;
  }
  std::vector<std::wstring> walked;
  HTREEITEM root = remote.Next(nullptr, TVGN_ROOT);
  if (!root) return error = L"the folder tree is empty", false;
  walked.push_back(remote.Text(root));

  // The drive sits below the root (the desktop), usually one level further under the computer.
  HTREEITEM current = nullptr;
  std::vector<HTREEITEM> level = remote.Expand(root);
  for (HTREEITEM item : level)
    if (IsDriveItem(remote.Text(item), std::towupper(path[0]))) current = item;
  if (!current) {
    std::vector<HTREEITEM> ordered;
    for (HTREEITEM item : level) {  // likely holders of drives first
      std::wstring t = remote.Text(item);
      for (wchar_t& c : t) c = std::towlower(c);
      if (t.find(L"computer") != std::wstring::npos || t.find(L"this pc") != std::wstring::npos)
        ordered.insert(ordered.begin(), item);
      else
        ordered.push_back(item);
    }
    for (HTREEITEM holder : ordered) {
      for (HTREEITEM item : remote.Expand(holder))
        if (IsDriveItem(remote.Text(item), std::towupper(path[0]))) {
          walked.push_back(remote.Text(holder));
          current = item;
          break;
        }
      if (current) break;
    }
  }
  if (!current) return error = L"no tree item for drive " + path.substr(0, 2), false;
  walked.push_back(remote.Text(current));

  for (const std::wstring& part : parts) {
    HTREEITEM found = nullptr;
    std::wstring seen;
    for (HTREEITEM item : remote.Expand(current)) {
      std::wstring t = remote.Text(item);
      seen += (seen.empty() ? L"" : L", ") + t;
      if (_wcsicmp(t.c_str(), part.c_str()) == 0) found = item;
      if (found) break;
    }
    if (!found) return error = L"no tree item \"" + part + L"\" below \"" + walked.back() + L"\" (found: " + seen + L")", false;
    current = found;
    walked.push_back(part);
  }
  if (!remote.Select(current)) return error = L"could not select the folder's tree item", false;

  bool pressed = false;
  if (!step.flags.count(L"--no-ok")) {
    HWND ok = nullptr;
    for (HWND c : Descendants(dialog))
      if (::GetDlgCtrlID(c) == IDOK && ::GetParent(c) == dialog) ok = c;
    if (!ok) return error = L"the folder dialog has no OK button", false;
    if (!::IsWindowEnabled(ok)) return error = L"OK is disabled for the selected folder", false;
    pressed = ::PostMessageW(ok, BM_CLICK, 0, 0) != FALSE;
    if (!pressed) return error = L"PostMessage failed", false;
  }
  JsonLine j = Begin(run, step.strName);
  j.Field("window", reinterpret_cast<uintptr_t>(dialog)).Text("path", path);
  j.Key("items").Array();
  for (const std::wstring& w : walked) j.Str(w);
  j.End();
  j.Field("pressed_ok", pressed).Emit();
  return true;
}

// ---- watch ----------------------------------------------------------------------------------------

volatile LONG g_nWinEvents = 0;

void CALLBACK OnWinEvent(HWINEVENTHOOK, DWORD, HWND hwnd, LONG idObject, LONG idChild, DWORD, DWORD) {
  if (hwnd && idObject == OBJID_WINDOW && idChild == CHILDID_SELF) ::InterlockedIncrement(&g_nWinEvents);
}

bool StepWatch(Run& run, const Step& step, std::wstring& error) {
  long long interval = 100, duration = 1000;
  if (step.Has(L"--interval") && (!ParseInt(step.Get(L"--interval"), interval) || interval <= 0))
    return error = L"bad --interval", false;
  if (step.Has(L"--duration") && (!ParseInt(step.Get(L"--duration"), duration) || duration < 0))
    return error = L"bad --duration", false;
  // Window events make the watch sample at once when a window of the tree appears, moves or is
  // shown, between the regular samples; the samples alone are the fallback where no events come.
  HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_LOCATIONCHANGE, nullptr, OnWinEvent, 0, 0,
                                         WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
  std::map<HWND, std::wstring> seen;
  const ULONGLONG start = ::GetTickCount64();
  int samples = 0, changes = 0;
  size_t maxWindows = 0;
  bool everCovered = false, everTaskbar = false, exited = false;
  auto report = [&](const char* what, HWND h) {
    ++changes;
    JsonLine j = Begin(run, L"watch-change");
    j.Text("change", what).Field("hwnd", reinterpret_cast<uintptr_t>(h));
    if (::IsWindow(h)) DescribeWindow(j.Key("window"), h, false);
    j.Emit();
  };
  for (;;) {
    ++samples;
    std::vector<HWND> now = TreeWindows(*run.pTree);
    maxWindows = std::max(maxWindows, now.size());
    std::map<HWND, std::wstring> current;
    for (HWND h : now) {
      std::wstring sig = WindowSignature(h);
      current[h] = sig;
      everCovered = everCovered || CoversPixels(h);
      everTaskbar = everTaskbar || HasTaskbarButton(h);
      auto it = seen.find(h);
      if (it == seen.end()) report("appeared", h);
      else if (it->second != sig) report("changed", h);
    }
    for (auto& [h, sig] : seen)
      if (!current.count(h)) report("gone", h);
    seen.swap(current);
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    if (exited || static_cast<long long>(elapsed) >= duration) break;
    // Wait for the interval, the end of the program or a window event, whichever comes first.
    const LONG events = g_nWinEvents;
    ULONGLONG until = std::min<ULONGLONG>(start + static_cast<ULONGLONG>(duration), ::GetTickCount64() + interval);
    while (g_nWinEvents == events) {
      ULONGLONG t = ::GetTickCount64();
      if (t >= until) break;
      DWORD r = ::MsgWaitForMultipleObjects(1, &run.pi.hProcess, FALSE, static_cast<DWORD>(until - t), QS_ALLINPUT);
      if (r == WAIT_OBJECT_0) {
        exited = true;  // one more sample shows the windows gone
        break;
      }
      Pump();
    }
  }
  if (hook) ::UnhookWinEvent(hook);
  Begin(run, step.strName)
      .Field("samples", static_cast<int64_t>(samples))
      .Field("changes", static_cast<int64_t>(changes))
      .Field("max_windows", static_cast<uint64_t>(maxWindows))
      .Field("ever_covered_pixels", everCovered)
      .Field("ever_taskbar", everTaskbar)
      .Field("exited", exited)
      .Field("events", hook != nullptr)
      .Emit();
  return true;
}

// ---- sleep, wait-exit -----------------------------------------------------------------------------

bool StepSleep(Run& run, const Step& step, std::wstring& error) {
  long long ms = 0;
  if (!ParseInt(step.positional[0], ms) || ms < 0) return error = L"bad sleep time", false;
  ::Sleep(static_cast<DWORD>(ms));
  Begin(run, step.strName).Field("ms", static_cast<int64_t>(ms)).Emit();
  return true;
}

// Samples the program's peak working set while it runs. Windows still answers for an ended
// process through its handle; Wine may not once the process is gone, so the exit line takes the
// larger of the final reading and these samples.
DWORD WINAPI PeakSampler(void* param) {
  auto* run = static_cast<Run*>(param);
  do {
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof(pmc);
    if (::GetProcessMemoryInfo(run->pi.hProcess, &pmc, sizeof(pmc))) {
      LONG64 peak = static_cast<LONG64>(pmc.PeakWorkingSetSize);
      for (LONG64 old = run->nPeakSampled; peak > old; old = run->nPeakSampled)
        if (::InterlockedCompareExchange64(&run->nPeakSampled, peak, old) == old) break;
    }
  } while (::WaitForSingleObject(run->pi.hProcess, 20) == WAIT_TIMEOUT);
  return 0;
}

// Waits for the program; prints the exit line or, on timeout, ends the tree and says so.
int WaitExit(Run& run, DWORD timeout) {
  if (::WaitForSingleObject(run.pi.hProcess, timeout) != WAIT_OBJECT_0) {
    run.pTree->KillAll();
    JsonLine j = Begin(run, L"timeout");
    j.Field("timeout_ms", static_cast<uint64_t>(timeout)).Emit();
    return kExitTimeout;
  }
  // Read at once, while the handle still holds the ended process's accounting.
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof(pmc);
  const bool haveMemory = ::GetProcessMemoryInfo(run.pi.hProcess, &pmc, sizeof(pmc)) != FALSE;
  const uint64_t atExit = haveMemory ? static_cast<uint64_t>(pmc.PeakWorkingSetSize) : 0;
  if (run.hSampler) ::WaitForSingleObject(run.hSampler, 1000);  // its last sample is in
  const uint64_t peak = std::max<uint64_t>(atExit, static_cast<uint64_t>(run.nPeakSampled));
  DWORD code = 0;
  const bool haveCode = ::GetExitCodeProcess(run.pi.hProcess, &code) != FALSE;
  JsonLine j;
  j.Text("event", "exit");
  if (haveCode) j.Field("code", static_cast<uint64_t>(code));
  else j.Key("code").Null();
  if (peak) j.Field("peak_working_set", peak);
  else j.Key("peak_working_set").Null();
  j.Field("peak_working_set_at_exit", atExit);
  j.Field("step", static_cast<int64_t>(run.nStep)).Field("t_ms", static_cast<uint64_t>(::GetTickCount64() - run.t0));
  j.Emit();
  return kExitOk;
}

bool RunStep(Run& run, const Step& step, std::wstring& error) {
  using Fn = bool (*)(Run&, const Step&, std::wstring&);
  static const std::map<std::wstring, Fn> table = {
      {L"wait-window", StepWaitWindow}, {L"wait-gone", StepWaitGone},     {L"dump", StepDump},
      {L"press", StepPress},            {L"key", StepKey},                {L"syscommand", StepSysCommand},
      {L"close", StepClose},            {L"send-message", StepSendMessage}, {L"screenshot", StepScreenshot},
      {L"browse-select", StepBrowseSelect}, {L"watch", StepWatch},        {L"sleep", StepSleep},
  };
  auto it = table.find(step.strName);
  if (it == table.end()) return error = L"unknown step " + step.strName, false;
  return it->second(run, step, error);
}

// ---- Start-up ---------------------------------------------------------------------------------------

bool ReadScript(const std::wstring& path, std::vector<std::wstring>& lines, std::wstring& error) {
  HANDLE f = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return error = L"cannot open script " + path, false;
  std::string bytes;
  char buf[4096];
  DWORD got = 0;
  while (::ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0) bytes.append(buf, got);
  ::CloseHandle(f);
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  std::wstring text = Wide(bytes);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(L'\n', pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    size_t first = line.find_first_not_of(L" \t");
    if (first == std::wstring::npos || line[first] == L'#') continue;
    lines.push_back(line);
  }
  return true;
}

// The target's standard output and error go to the robot's standard error, so the transcript on
// standard output stays clean; its input is NUL.
void PrepareStdHandles(STARTUPINFOW& si, HANDLE& inherited1, HANDLE& inherited2) {
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    HANDLE h = ::GetStdHandle(which);
    if (h && h != INVALID_HANDLE_VALUE) ::SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
  }
  HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE nul = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                             OPEN_EXISTING, 0, nullptr);
  HANDLE errDup = nullptr;
  if (!err || err == INVALID_HANDLE_VALUE ||
      !::DuplicateHandle(::GetCurrentProcess(), err, ::GetCurrentProcess(), &errDup, 0, TRUE, DUPLICATE_SAME_ACCESS))
    errDup = nullptr;
  if (nul == INVALID_HANDLE_VALUE) nul = nullptr;
  inherited1 = nul;
  inherited2 = errDup;
  if (!nul && !errDup) return;
  si.dwFlags |= STARTF_USESTDHANDLES;
  si.hStdInput = nul;
  si.hStdOutput = errDup ? errDup : nul;
  si.hStdError = errDup ? errDup : nul;
}

struct Options {
  bool bRunMode = false;
  std::wstring strCwd, strArgsRaw;
  bool bHasArgsRaw = false;
  bool bSample = true;
  DWORD dwRunTimeout = kDefaultExitTimeoutMs;
  std::vector<std::wstring> stepLines;
  std::vector<std::wstring> program;
};

bool ParseOptions(int argc, wchar_t** argv, Options& opt, std::wstring& error) {
  int i = 1;
  if (i < argc && std::wcscmp(argv[i], L"run") == 0) {
    opt.bRunMode = true;
    ++i;
  }
  for (; i < argc; ++i) {
    std::wstring a = argv[i];
    if (a == L"--") {
      for (++i; i < argc; ++i) opt.program.push_back(argv[i]);
      break;
    }
    auto value = [&](std::wstring& out) {
      if (i + 1 >= argc) return error = a + L" needs a value", false;
      out = argv[++i];
      return true;
    };
    std::wstring v;
    if (a == L"--cwd") {
      if (!value(opt.strCwd)) return false;
    } else if (a == L"--args-raw") {
      if (!value(opt.strArgsRaw)) return false;
      opt.bHasArgsRaw = true;
    } else if (a == L"--no-sampling") {
      opt.bSample = false;
    } else if (a == L"--timeout") {
      long long ms = 0;
      if (!value(v) || !ParseInt(v, ms) || ms < 0) return error = L"bad --timeout", false;
      opt.dwRunTimeout = ms == 0 ? INFINITE : static_cast<DWORD>(ms);
    } else if (a == L"--step" && !opt.bRunMode) {
      if (!value(v)) return false;
      opt.stepLines.push_back(v);
    } else if (a == L"--script" && !opt.bRunMode) {
      if (!value(v) || !ReadScript(v, opt.stepLines, error)) return false;
    } else {
      return error = L"unknown option " + a, false;
    }
  }
  if (opt.program.empty()) return error = L"no program given after --", false;
  if (opt.bHasArgsRaw && opt.program.size() > 1) return error = L"--args-raw and arguments after the program", false;
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Run run;
  run.t0 = ::GetTickCount64();
  if (argc > 1 && (std::wcscmp(argv[1], L"--help") == 0 || std::wcscmp(argv[1], L"-h") == 0)) {
    std::fputws(kUsage, stderr);
    return kExitOk;
  }
  Options opt;
  std::wstring error;
  if (!ParseOptions(argc, argv, opt, error)) {
    PrintError(run, L"usage", error);
    std::fputws(kUsage, stderr);
    return kExitError;
  }
  std::vector<Step> steps;
  for (const std::wstring& line : opt.stepLines) {
    Step step;
    if (!ParseStep(line, step, error)) {
      PrintError(run, L"script", error + L" in: " + line);
      return kExitError;
    }
    if (!steps.empty() && steps.back().strName == L"wait-exit") {
      PrintError(run, L"script", L"wait-exit must be the last step");
      return kExitError;
    }
    steps.push_back(step);
  }
  if (opt.bRunMode || steps.empty() || steps.back().strName != L"wait-exit") {
    Step implicitWait;
    implicitWait.strName = L"wait-exit";
    if (opt.dwRunTimeout != kDefaultExitTimeoutMs)
      implicitWait.options[L"--timeout"] = opt.dwRunTimeout == INFINITE ? L"0" : std::to_wstring(opt.dwRunTimeout);
    steps.push_back(implicitWait);
  }

  std::wstring cmd = QuoteArg(opt.program[0]);
  if (opt.bHasArgsRaw) {
    if (!opt.strArgsRaw.empty()) cmd += L" " + opt.strArgsRaw;
  } else {
    for (size_t i = 1; i < opt.program.size(); ++i) cmd += L" " + QuoteArg(opt.program[i]);
  }
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  HANDLE inherited1 = nullptr, inherited2 = nullptr;
  PrepareStdHandles(si, inherited1, inherited2);
  std::vector<wchar_t> cmdBuf(cmd.begin(), cmd.end());
  cmdBuf.push_back(0);
  // Wine now and then fails a start with ERROR_INTERNAL_ERROR on a loaded machine; no process
  // exists then, so trying again cannot start the program twice.
  BOOL started = FALSE;
  DWORD startError = 0;
  int attempts = 0;
  do {
    if (attempts++) ::Sleep(500);
    started = ::CreateProcessW(nullptr, cmdBuf.data(), nullptr, nullptr, (si.dwFlags & STARTF_USESTDHANDLES) != 0, 0,
                               nullptr, opt.strCwd.empty() ? nullptr : opt.strCwd.c_str(), &si, &run.pi);
    startError = started ? 0 : ::GetLastError();
  } while (!started && startError == ERROR_INTERNAL_ERROR && attempts < 3);
  if (inherited1) ::CloseHandle(inherited1);
  if (inherited2) ::CloseHandle(inherited2);
  if (!started) {
    PrintError(run, L"start", L"CreateProcessW failed for: " + cmd, startError);
    return kExitError;
  }
  ::CloseHandle(run.pi.hThread);
  // Each reading of another process's counters was measured to stall its file writes under Wine:
  // timing runs leave the sampler out.
  if (opt.bSample) run.hSampler = ::CreateThread(nullptr, 0, PeakSampler, &run, 0, nullptr);
  CProcessTree tree(run.pi.dwProcessId);
  run.pTree = &tree;
  Begin(run, L"start")
      .Field("pid", static_cast<uint64_t>(run.pi.dwProcessId))
      .Text("command_line", cmd)
      .Field("attempts", static_cast<int64_t>(attempts))
      .Emit();

  for (const Step& step : steps) {
    ++run.nStep;
    if (step.strName == L"wait-exit") return WaitExit(run, TimeoutOf(step, kDefaultExitTimeoutMs));
    if (!RunStep(run, step, error)) {
      PrintError(run, step.strName, error);
      tree.KillAll();
      return kExitError;
    }
  }
  return kExitOk;
}
