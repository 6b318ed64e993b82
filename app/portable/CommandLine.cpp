#include "app/portable/CommandLine.h"

namespace {
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f'; }

std::wstring Trim(const std::wstring& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool IsSilentToken(const std::wstring& t) {
  return t.size() == 2 && (t[0] == L'-' || t[0] == L'/') && (t[1] == L's' || t[1] == L'S');
}
}  // namespace

bool HasSilentSwitch(const std::wstring& commandLine) {
  // Only the space separates; a run of spaces counts as one, and the end of the text ends the search.
  size_t pos = 0;
  const size_t n = commandLine.size();
  for (;;) {
    while (pos < n && commandLine[pos] == L' ') ++pos;
    if (pos >= n) return false;
    size_t end = commandLine.find(L' ', pos);
    if (end == std::wstring::npos) end = n;
    if (IsSilentToken(Trim(commandLine.substr(pos, end - pos)))) return true;
    pos = end;
  }
}
