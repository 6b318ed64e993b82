#include "app/portable/SuccessCodes.h"

#include <algorithm>

namespace {
bool IsWhiteSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }
}  // namespace

int32_t WtoiLike(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && IsWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    ++i;
  }
  // Saturate well above the 32-bit range so that long digit runs cannot overflow.
  constexpr int64_t kCap = int64_t{1} << 40;
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
    magnitude = std::min<int64_t>(magnitude * 10 + (text[i] - L'0'), kCap);
  const int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN) return INT32_MIN;
  if (value > int64_t{UINT32_MAX}) return INT32_MAX;
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

std::vector<int32_t> ParseSuccessCodes(const std::wstring& list) {
  std::vector<int32_t> codes;
  size_t start = 0;
  for (;;) {
    const size_t sep = list.find(L';', start);
    const size_t end = sep == std::wstring::npos ? list.size() : sep;
    if (end > start) codes.push_back(WtoiLike(list.substr(start, end - start)));
    if (sep == std::wstring::npos) break;
    start = sep + 1;
  }
  return codes;
}

bool IsSuccessExitCode(uint32_t exitCode, const std::wstring& list) {
  for (int32_t code : ParseSuccessCodes(list))
    if (static_cast<uint32_t>(code) == exitCode) return true;
  return false;
}
