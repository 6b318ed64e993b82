// Helpers shared by the fuzz targets: turn raw fuzzer bytes into the text shapes the parsers take.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Aborts with a message so libFuzzer records the input; assert() would vanish under NDEBUG.
#define FUZZ_CHECK(cond)                                                             \
  do {                                                                               \
    if (!(cond)) {                                                                   \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                  \
    }                                                                                \
  } while (0)

namespace fuzz {

// One wide unit per byte keeps seeds readable as plain text; the escape byte 0xFF followed by
// two bytes (little-endian) yields any UTF-16 code unit, so non-ASCII and NUL are reachable.
inline std::wstring BytesToWide(const uint8_t* data, size_t size) {
  std::wstring out;
  out.reserve(size);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF && i + 2 < size) {
      out.push_back(static_cast<wchar_t>(data[i + 1] | (data[i + 2] << 8)));
      i += 2;
    } else {
      out.push_back(static_cast<wchar_t>(data[i]));
    }
  }
  return out;
}

// Splits at '\n'; always yields at least `minParts` parts (missing ones are empty).
inline std::vector<std::wstring> SplitLines(const std::wstring& text, size_t minParts) {
  std::vector<std::wstring> parts(1);
  for (wchar_t c : text) {
    if (c == L'\n')
      parts.emplace_back();
    else
      parts.back().push_back(c);
  }
  while (parts.size() < minParts) parts.emplace_back();
  return parts;
}

}  // namespace fuzz
