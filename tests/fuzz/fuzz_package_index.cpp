// Fuzzes the package index reader over an in-memory file.
#include "package/portable/PackageFormat.h"
#include "tests/fuzz/FuzzText.h"

#include <cstring>

namespace {

class CMemorySource : public ByteSource {
 public:
  CMemorySource(const uint8_t* data, size_t size) : m_pData(data), m_nSize(size) {}
  size_t Read(void* buf, size_t n) override {
    const size_t left = m_nPos < m_nSize ? m_nSize - static_cast<size_t>(m_nPos) : 0;
    const size_t take = n < left ? n : left;
    if (take != 0) std::memcpy(buf, m_pData + m_nPos, take);
    m_nPos += take;
    return take;
  }
  bool Seek(uint64_t pos) override {
    if (pos > m_nSize) return false;
    m_nPos = pos;
    return true;
  }
  uint64_t Pos() const { return m_nPos; }

 private:
  const uint8_t* m_pData;
  size_t m_nSize;
  uint64_t m_nPos = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CMemorySource src(data, size);
  PackageIndex index;
  uint64_t dataStart = 12345, dataBytes = 67890;
  const IndexStatus status = ParsePackageIndex(src, size, index, dataStart, dataBytes);

  if (status == IndexStatus::Ok) {
    FUZZ_CHECK(dataStart <= size);
    FUZZ_CHECK(dataBytes <= size - dataStart);
    FUZZ_CHECK(src.Pos() == dataStart);
    uint64_t kept = 0;
    for (const auto& [group, entries] : index) {
      FUZZ_CHECK(IsBareName(group));
      FUZZ_CHECK(group.find(u'\0') == std::u16string::npos);
      for (const PackageEntry& e : entries) {
        FUZZ_CHECK(IsBareName(e.name));
        FUZZ_CHECK(e.name.find(u'\0') == std::u16string::npos);
        kept += e.size;
      }
    }
    // Dropped duplicate groups still count, so the kept bodies can only be fewer.
    FUZZ_CHECK(kept <= dataBytes);
  } else {
    FUZZ_CHECK(index.empty());
    FUZZ_CHECK(dataStart == 0 && dataBytes == 0);
  }
  return 0;
}
