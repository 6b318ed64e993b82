#pragma once
// The framework's UTF-16 text class: the small part of a classic CString that the stub uses.
#include <windows.h>
#include <string>

class CString {
 public:
  CString() = default;
  CString(const wchar_t* s) : m_str(s ? s : L"") {}
  CString(const wchar_t* s, int length) : m_str(s ? std::wstring(s, static_cast<size_t>(length)) : std::wstring()) {}
  CString(const std::wstring& s) : m_str(s) {}
  CString(wchar_t c, int repeat = 1) : m_str(static_cast<size_t>(repeat), c) {}

  int GetLength() const { return static_cast<int>(m_str.size()); }
  bool IsEmpty() const { return m_str.empty(); }
  void Empty() { m_str.clear(); }
  const wchar_t* GetString() const { return m_str.c_str(); }
  operator const wchar_t*() const { return m_str.c_str(); }
  const std::wstring& Str() const { return m_str; }
  wchar_t GetAt(int i) const { return m_str[static_cast<size_t>(i)]; }
  wchar_t operator[](int i) const { return GetAt(i); }

  CString& operator=(const wchar_t* s) { m_str = s ? s : L""; return *this; }
  CString& operator=(const std::wstring& s) { m_str = s; return *this; }
  CString& operator+=(const CString& s) { m_str += s.m_str; return *this; }
  CString& operator+=(const wchar_t* s) { if (s) m_str += s; return *this; }
  CString& operator+=(wchar_t c) { m_str += c; return *this; }
  friend CString operator+(const CString& a, const CString& b) { return CString(a.m_str + b.m_str); }
  friend CString operator+(const CString& a, const wchar_t* b) { CString r(a); r += b; return r; }
  friend CString operator+(const wchar_t* a, const CString& b) { CString r(a); r += b; return r; }
  friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
  friend bool operator==(const CString& a, const wchar_t* b) { return a.m_str == (b ? b : L""); }
  friend bool operator<(const CString& a, const CString& b) { return a.m_str < b.m_str; }

  // Ordinal comparison; CompareNoCase folds case the way the platform's _wcsicmp does.
  int Compare(const wchar_t* s) const;
  int CompareNoCase(const wchar_t* s) const;

  int Find(wchar_t c, int start = 0) const;
  int Find(const wchar_t* s, int start = 0) const;
  int ReverseFind(wchar_t c) const;
  CString Left(int count) const;
  CString Mid(int first) const;
  CString Mid(int first, int count) const;
  CString Right(int count) const;

  CString& Trim();
  CString& TrimLeft();
  CString& TrimRight();
  CString& TrimRight(wchar_t c);
  CString& MakeLower();
  CString& MakeUpper();
  int Replace(const wchar_t* from, const wchar_t* to);

  // printf-style formatting with %s (wide text), %c, %d, %i, %u, %x, %X and %%,
  // with optional '-', '0', width and precision. Our own, so it means the same under every C runtime.
  void Format(const wchar_t* format, ...);
  void FormatV(const wchar_t* format, va_list args);

  // Direct buffer access for API calls that write text.
  wchar_t* GetBuffer(int minLength);
  void ReleaseBuffer(int newLength = -1);

 private:
  std::wstring m_str;
};
