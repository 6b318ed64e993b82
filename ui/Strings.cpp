#include "ui/Strings.h"

#include <cwchar>

#include "ui/portable/LanguageList.h"

namespace {
constexpr WORD kEnglish = 0x0409;
constexpr DWORD kMuiLanguageId = 0x4;  // MUI_LANGUAGE_ID

using PreferredLanguagesFn = BOOL(WINAPI*)(DWORD, PULONG, PWSTR, PULONG);

// Both list queries work alike; only the names of the functions differ.
bool GetUiLanguages(const char* listFunction, LANGID(WINAPI* fallback)(), ULONG& count, CString& list) {
  wchar_t path[260] = {};
  UINT n = ::GetSystemDirectoryW(path, 260);
  if (n == 0 || n >= 260) return false;
  CString kernel(path);
  kernel += L"\\Kernel32.dll";
  HMODULE module = ::GetModuleHandleW(kernel);
  if (!module) return false;
  auto fn = reinterpret_cast<PreferredLanguagesFn>(reinterpret_cast<void*>(::GetProcAddress(module, listFunction)));
  if (fn) {
    ULONG num = 0, size = 0;
    if (!fn(kMuiLanguageId, &num, nullptr, &size)) return false;
    std::wstring buffer(size + 1, L'\0');
    if (!fn(kMuiLanguageId, &num, buffer.data(), &size)) return false;
    count = num;
    std::wstring items;
    bool ok = MultiSzToList(buffer.data(), size, items);
    list += items.c_str();
    return ok;
  }
  LANGID id = fallback();
  if (id == 0) return false;
  count = 1;
  CString item;
  item.Format(L"%x,", id);
  list += item;
  return true;
}

WORD ParseItem(const std::wstring& item) { return ParseLangIdHex(item); }
}  // namespace

bool GetUserUiLanguages(ULONG& count, CString& list) {
  return GetUiLanguages("GetUserPreferredUILanguages", &::GetUserDefaultUILanguage, count, list);
}

bool GetSystemUiLanguages(ULONG& count, CString& list) {
  return GetUiLanguages("GetSystemPreferredUILanguages", &::GetSystemDefaultUILanguage, count, list);
}

bool LoadStringForLanguage(CString& text, HMODULE module, UINT id, WORD language) {
  if (!module) module = ::GetModuleHandleW(nullptr);
  HRSRC res = ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
  if (!res) return false;
  HGLOBAL global = ::LoadResource(module, res);
  const DWORD size = ::SizeofResource(module, res);
  auto* p = global ? static_cast<const WORD*>(::LockResource(global)) : nullptr;
  if (!p) return false;
  const WORD* end = p + size / sizeof(WORD);
  for (UINT i = 0; i < id % 16; ++i) {
    if (p >= end) return false;
    p += 1 + *p;
  }
  if (p >= end || p + 1 + *p > end) return false;
  text = CString(reinterpret_cast<const wchar_t*>(p + 1), *p);
  return true;
}

bool LoadUiString(UINT id, CString& text) {
  text.Empty();
  CString list;
  ULONG userCount = 0, systemCount = 0;
  bool haveUser = GetUserUiLanguages(userCount, list);
  bool haveSystem = GetSystemUiLanguages(systemCount, list);
  if (haveUser || haveSystem) {
    std::wstring item;
    for (int i = 0; GetListItem(item, list, i); ++i) {
      if (item.empty()) continue;
      if (LoadStringForLanguage(text, nullptr, id, ParseItem(item)) && !text.IsEmpty()) return true;
    }
  }
  return LoadStringForLanguage(text, nullptr, id, kEnglish) && !text.IsEmpty();
}

CString LoadStringOrEnglish(UINT id) {
  // The platform picks the block's language (normally the thread's UI language).
  CString text;
  HMODULE module = ::GetModuleHandleW(nullptr);
  if (HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(id / 16 + 1), RT_STRING)) {
    (void)res;
    const wchar_t* p = nullptr;
    int n = ::LoadStringW(module, id, reinterpret_cast<LPWSTR>(&p), 0);
    if (n > 0 && p) text = CString(p, n);
  }
  if (text.IsEmpty()) LoadStringForLanguage(text, module, id, kEnglish);
  return text;
}
