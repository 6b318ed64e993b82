#include "fw/String.h"

#include <cstdarg>
#include <cwchar>

namespace {
bool IsSpace(wchar_t c) { return c == L' ' || (c >= 9 && c <= 13); }

void AppendNumber(std::wstring& out, unsigned long long value, bool negative, unsigned base, bool upper,
                  bool leftAlign, bool zeroPad, int width, int precision) {
  wchar_t digits[32];
  int n = 0;
  const wchar_t* set = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
  do { digits[n++] = set[value % base]; value /= base; } while (value);
  if (precision == 0 && n == 1 && digits[0] == L'0') n = 0;
  int zeros = precision > n ? precision - n : 0;
  int len = n + zeros + (negative ? 1 : 0);
  int pad = width > len ? width - len : 0;
  if (!leftAlign && !(zeroPad && precision < 0)) out.append(static_cast<size_t>(pad), L' ');
  if (negative) out += L'-';
  if (!leftAlign && zeroPad && precision < 0) out.append(static_cast<size_t>(pad), L'0');
  out.append(static_cast<size_t>(zeros), L'0');
  while (n) out += digits[--n];
  if (leftAlign) out.append(static_cast<size_t>(pad), L' ');
}
}  // namespace

int CString::Compare(const wchar_t* s) const { return m_str.compare(s ? s : L""); }

int CString::CompareNoCase(const wchar_t* s) const { return _wcsicmp(m_str.c_str(), s ? s : L""); }

int CString::Find(wchar_t c, int start) const {
  if (start < 0 || start > GetLength()) return -1;
  size_t p = m_str.find(c, static_cast<size_t>(start));
  return p == std::wstring::npos ? -1 : static_cast<int>(p);
}

int CString::Find(const wchar_t* s, int start) const {
  if (!s || start < 0 || start > GetLength()) return -1;
  size_t p = m_str.find(s, static_cast<size_t>(start));
  return p == std::wstring::npos ? -1 : static_cast<int>(p);
}

int CString::ReverseFind(wchar_t c) const {
  size_t p = m_str.rfind(c);
  return p == std::wstring::npos ? -1 : static_cast<int>(p);
}

CString CString::Left(int count) const {
  if (count < 0) count = 0;
  return CString(m_str.substr(0, static_cast<size_t>(count)));
}

CString CString::Mid(int first) const { return Mid(first, GetLength()); }

CString CString::Mid(int first, int count) const {
  if (first < 0) first = 0;
  if (first >= GetLength() || count <= 0) return CString();
  return CString(m_str.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

CString CString::Right(int count) const {
  if (count <= 0) return CString();
  if (count >= GetLength()) return *this;
  return CString(m_str.substr(m_str.size() - static_cast<size_t>(count)));
}

CString& CString::TrimLeft() {
  size_t b = 0;
  while (b < m_str.size() && IsSpace(m_str[b])) ++b;
  m_str.erase(0, b);
  return *this;
}

CString& CString::TrimRight() {
  size_t e = m_str.size();
  while (e > 0 && IsSpace(m_str[e - 1])) --e;
  m_str.erase(e);
  return *this;
}

CString& CString::TrimRight(wchar_t c) {
  size_t e = m_str.size();
  while (e > 0 && m_str[e - 1] == c) --e;
  m_str.erase(e);
  return *this;
}

CString& CString::Trim() { return TrimRight().TrimLeft(); }

CString& CString::MakeLower() {
  if (!m_str.empty()) CharLowerBuffW(m_str.data(), static_cast<DWORD>(m_str.size()));
  return *this;
}

CString& CString::MakeUpper() {
  if (!m_str.empty()) CharUpperBuffW(m_str.data(), static_cast<DWORD>(m_str.size()));
  return *this;
}

int CString::Replace(const wchar_t* from, const wchar_t* to) {
  if (!from || !*from) return 0;
  std::wstring f(from), t(to ? to : L"");
  int count = 0;
  for (size_t p = m_str.find(f); p != std::wstring::npos; p = m_str.find(f, p + t.size())) {
    m_str.replace(p, f.size(), t);
    ++count;
  }
  return count;
}

void CString::Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
}

void CString::FormatV(const wchar_t* f, va_list args) {
  std::wstring out;
  for (; f && *f; ++f) {
    if (*f != L'%') { out += *f; continue; }
    ++f;
    if (*f == L'%') { out += L'%'; continue; }
    bool left = false, zero = false;
    for (;; ++f) {
      if (*f == L'-') left = true;
      else if (*f == L'0') zero = true;
      else break;
    }
    int width = 0, precision = -1;
    if (*f == L'*') { width = va_arg(args, int); ++f; }
    while (*f >= L'0' && *f <= L'9') width = width * 10 + (*f++ - L'0');
    if (*f == L'.') {
      ++f; precision = 0;
      while (*f >= L'0' && *f <= L'9') precision = precision * 10 + (*f++ - L'0');
    }
    bool isLong = false;
    while (*f == L'l' || *f == L'h' || *f == L'w') { isLong = isLong || *f == L'l'; ++f; }
    (void)isLong;
    switch (*f) {
      case L's': case L'S': {
        const wchar_t* s = va_arg(args, const wchar_t*);
        std::wstring v = s ? s : L"(null)";
        if (precision >= 0 && v.size() > static_cast<size_t>(precision)) v.resize(static_cast<size_t>(precision));
        size_t pad = width > static_cast<int>(v.size()) ? static_cast<size_t>(width) - v.size() : 0;
        if (!left) out.append(pad, L' ');
        out += v;
        if (left) out.append(pad, L' ');
        break;
      }
      case L'c': out += static_cast<wchar_t>(va_arg(args, int)); break;
      case L'd': case L'i': {
        int v = va_arg(args, int);
        unsigned long long mag = v < 0 ? 0ULL - static_cast<long long>(v) : static_cast<unsigned long long>(v);
        AppendNumber(out, mag, v < 0, 10, false, left, zero, width, precision);
        break;
      }
      case L'u': AppendNumber(out, va_arg(args, unsigned), false, 10, false, left, zero, width, precision); break;
      case L'x': AppendNumber(out, va_arg(args, unsigned), false, 16, false, left, zero, width, precision); break;
      case L'X': AppendNumber(out, va_arg(args, unsigned), false, 16, true, left, zero, width, precision); break;
      case 0: --f; break;
      default: out += L'%'; out += *f; break;
    }
  }
  m_str.swap(out);
}

wchar_t* CString::GetBuffer(int minLength) {
  if (minLength > GetLength()) m_str.resize(static_cast<size_t>(minLength));
  return m_str.data();
}

void CString::ReleaseBuffer(int newLength) {
  if (newLength < 0) newLength = static_cast<int>(wcsnlen(m_str.c_str(), m_str.size()));
  m_str.resize(static_cast<size_t>(newLength));
}
