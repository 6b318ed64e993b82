// Fuzzes the packaging tool's description parser with arbitrary text.
#include "tools/tessel-pack/src/Description.h"
#include "tests/fuzz/FuzzText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  tpack::PackageDescription desc;
  std::string error;
  const bool ok = tpack::ParseDescription(text, "fuzz.tpk", "/nonexistent/base", desc, error);
  if (!ok) {
    FUZZ_CHECK(!error.empty());
  } else {
    for (const auto& s : desc.assist) FUZZ_CHECK(tpack::FindSetting(desc.assist, s.key) != nullptr);
    for (const auto& s : desc.message) FUZZ_CHECK(tpack::FindSetting(desc.message, s.key) != nullptr);
  }
  return 0;
}
