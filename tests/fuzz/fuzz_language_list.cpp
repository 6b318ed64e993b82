// Fuzzes the language list helpers over arbitrary wide text.
#include "ui/portable/LanguageList.h"
#include "tests/fuzz/FuzzText.h"

#include <algorithm>
#include <cwchar>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring raw = fuzz::BytesToWide(data, size);

  // The list is read as a C string: everything up to the first NUL.
  const std::wstring list(raw.c_str());
  const size_t commas = static_cast<size_t>(std::count(list.begin(), list.end(), L','));
  std::wstring joined;
  std::wstring item;
  for (size_t i = 0; i <= commas; ++i) {
    FUZZ_CHECK(GetListItem(item, list.c_str(), static_cast<int>(i)));
    FUZZ_CHECK(item.find(L',') == std::wstring::npos);
    if (i != 0) joined += L',';
    joined += item;

    const uint16_t id = ParseLangIdHex(item);
    // A plain run of one to four hex digits has only one reading.
    if (!item.empty() && item.size() <= 4 &&
        item.find_first_not_of(L"0123456789abcdefABCDEF") == std::wstring::npos)
      FUZZ_CHECK(id == std::wcstoul(item.c_str(), nullptr, 16));
    std::wstring locale = L"untouched";
    if (LangIdToLocaleName(id, locale)) FUZZ_CHECK(ElementPathForLocale(locale) != nullptr);
    else FUZZ_CHECK(locale == L"untouched");
  }
  FUZZ_CHECK(joined == list);
  item = L"x";
  FUZZ_CHECK(!GetListItem(item, list.c_str(), static_cast<int>(commas + 1)));
  FUZZ_CHECK(item.empty());

  // The raw units, embedded NULs included, as a double-null string list of exactly that size.
  std::wstring multi;
  FUZZ_CHECK(MultiSzToList(raw.data(), raw.size(), multi));
  FUZZ_CHECK(multi.find(L'\0') == std::wstring::npos);

  const wchar_t* element = nullptr;
  ChooseCatalogueLanguage(list, element);
  FUZZ_CHECK(element != nullptr);
  ChooseStringLanguage(list, [](uint16_t lang) { return lang == 0x0411; });
  return 0;
}
