#include "ui/portable/LanguageList.h"

#include <cwchar>

namespace {

struct LocaleRow {
  uint16_t langId;
  const wchar_t* localeName;
  const wchar_t* elementPath;
};

constexpr LocaleRow kLocales[] = {
    {0x0804, L"zh-cn", L"MessageInfo/CHS"}, {0x0404, L"zh-tw", L"MessageInfo/CHT"},
    {0x0413, L"nl-nl", L"MessageInfo/NLD"}, {0x040E, L"hu-hu", L"MessageInfo/HUN"},
    {0x040C, L"fr-fr", L"MessageInfo/FRA"}, {0x0407, L"de-de", L"MessageInfo/DEU"},
    {0x0410, L"it-it", L"MessageInfo/ITA"}, {0x0411, L"ja-jp", L"MessageInfo/JPN"},
    {0x0412, L"ko-kr", L"MessageInfo/KOR"}, {0x0419, L"ru-ru", L"MessageInfo/RUS"},
    {0x0C0A, L"es-es", L"MessageInfo/ESP"}, {0x0409, L"en-us", L"MessageInfo/ENG"},
    {0x0415, L"pl-pl", L"MessageInfo/PLK"}, {0x0416, L"pt-br", L"MessageInfo/PTB"},
    {0x041E, L"th-th", L"MessageInfo/THA"}, {0x041B, L"sk-sk", L"MessageInfo/SLK"},
    {0x0408, L"el-gr", L"MessageInfo/ELL"}, {0x0405, L"cs-cz", L"MessageInfo/CES"},
    {0x0402, L"bg-bg", L"MessageInfo/BGR"}, {0x041F, L"tr-tr", L"MessageInfo/TRK"},
    {0x0418, L"ro-ro", L"MessageInfo/ROM"}, {0x0422, L"uk-ua", L"MessageInfo/RUS"},
};

constexpr uint16_t kEnglish = 0x0409;

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

bool IsWhiteSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

}  // namespace

bool GetListItem(std::wstring& item, const wchar_t* list, int index) {
  if (list == nullptr) return false;
  const wchar_t* p = list;
  for (int i = 0; i < index; ++i) {
    const wchar_t* comma = std::wcschr(p, L',');
    if (comma == nullptr) {
      item.clear();
      return false;
    }
    p = comma + 1;
  }
  const wchar_t* comma = std::wcschr(p, L',');
  item.assign(p, comma != nullptr ? static_cast<size_t>(comma - p) : std::wcslen(p));
  return true;
}

bool MultiSzToList(const wchar_t* buffer, size_t sizeInUnits, std::wstring& out) {
  if (buffer == nullptr) return false;
  size_t pos = 0;
  while (pos < sizeInUnits && buffer[pos] != L'\0') {
    size_t end = pos;
    while (end < sizeInUnits && buffer[end] != L'\0') ++end;
    out.append(buffer + pos, end - pos);
    out += L',';
    pos = end + 1;
  }
  return true;
}

uint16_t ParseLangIdHex(const std::wstring& item) {
  size_t i = 0;
  while (i < item.size() && IsWhiteSpace(item[i])) ++i;
  bool negative = false;
  if (i < item.size() && (item[i] == L'+' || item[i] == L'-')) {
    negative = item[i] == L'-';
    ++i;
  }
  if (i + 2 < item.size() && item[i] == L'0' && (item[i + 1] == L'x' || item[i + 1] == L'X') &&
      HexDigit(item[i + 2]) >= 0)
    i += 2;
  uint16_t value = 0;
  for (; i < item.size() && HexDigit(item[i]) >= 0; ++i)
    value = static_cast<uint16_t>((value << 4) | HexDigit(item[i]));
  return negative ? static_cast<uint16_t>(0u - value) : value;
}

bool LangIdToLocaleName(uint16_t langId, std::wstring& localeName) {
  for (const LocaleRow& row : kLocales) {
    if (row.langId == langId) {
      localeName = row.localeName;
      return true;
    }
  }
  return false;
}

const wchar_t* ElementPathForLocale(const std::wstring& localeName) {
  for (const LocaleRow& row : kLocales)
    if (localeName == row.localeName) return row.elementPath;
  return nullptr;
}

uint16_t ChooseStringLanguage(const std::wstring& combinedList,
                              const std::function<bool(uint16_t)>& hasNonEmptyText) {
  std::wstring item;
  for (int index = 0; GetListItem(item, combinedList.c_str(), index); ++index) {
    if (item.empty()) continue;
    const uint16_t langId = ParseLangIdHex(item);
    if (hasNonEmptyText && hasNonEmptyText(langId)) return langId;
  }
  return kEnglish;
}

uint16_t ChooseCatalogueLanguage(const std::wstring& combinedList, const wchar_t*& elementPath) {
  std::wstring item, locale;
  for (int index = 0; GetListItem(item, combinedList.c_str(), index); ++index) {
    if (item.empty()) continue;
    const uint16_t langId = ParseLangIdHex(item);
    if (LangIdToLocaleName(langId, locale)) {
      elementPath = ElementPathForLocale(locale);
      return langId;
    }
  }
  elementPath = L"MessageInfo/ENG";
  return kEnglish;
}
