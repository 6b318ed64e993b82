#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ui/portable/LanguageList.h"

namespace {

TEST(LanguageList, GetListItem) {
  struct Case {
    const wchar_t* list;
    int index;
    bool found;
    const wchar_t* item;
  } cases[] = {
      {L"0411,0409,", 0, true, L"0411"}, {L"0411,0409,", 1, true, L"0409"}, {L"0411,0409,", 2, true, L""},
      {L"0411,0409,", 3, false, L""},    {L"0409,", 1, true, L""},         {L"0409,", 2, false, L""},
      {L"411", 0, true, L"411"},         {L"411", 1, false, L""},          {L"", 0, true, L""},
      {L",0409,", 0, true, L""},         {L",0409,", 1, true, L"0409"},
  };
  for (const Case& c : cases) {
    std::wstring item = L"stale";
    EXPECT_EQ(GetListItem(item, c.list, c.index), c.found) << c.list << " " << c.index;
    EXPECT_EQ(item, c.item) << c.list << " " << c.index;
  }
  std::wstring item;
  EXPECT_FALSE(GetListItem(item, nullptr, 0));
}

TEST(LanguageList, MultiSzToListAppends) {
  std::wstring out = L"0411,";
  const wchar_t buffer[] = L"0409\0" L"0407\0";  // double terminated by the literal's own null
  EXPECT_TRUE(MultiSzToList(buffer, sizeof buffer / sizeof buffer[0], out));
  EXPECT_EQ(out, L"0411,0409,0407,");

  std::wstring empty;
  const wchar_t none[] = L"\0";
  EXPECT_TRUE(MultiSzToList(none, 2, empty));
  EXPECT_EQ(empty, L"");
  EXPECT_FALSE(MultiSzToList(nullptr, 4, empty));

  // A buffer that ends without the double terminator stops at its size.
  const wchar_t cut[] = {L'0', L'4', L'1', L'1', 0, L'0', L'4', L'0', L'9'};
  std::wstring partial;
  EXPECT_TRUE(MultiSzToList(cut, 9, partial));
  EXPECT_EQ(partial, L"0411,0409,");
  std::wstring shorter;
  EXPECT_TRUE(MultiSzToList(cut, 3, shorter));
  EXPECT_EQ(shorter, L"041,");
}

TEST(LanguageList, ParseLangIdHex) {
  const std::pair<const wchar_t*, uint16_t> cases[] = {
      {L"0411", 0x0411}, {L"411", 0x0411},   {L"0409", 0x0409}, {L"c0a", 0x0C0A}, {L"0C0A", 0x0C0A},
      {L" 0422", 0x0422}, {L"0x0419", 0x0419}, {L"0X1f", 0x1F},  {L"zz", 0},       {L"", 0},
      {L"0x", 0},        {L"12g4", 0x12},    {L"10409", 0x0409}, {L"-1", 0xFFFF},  {L"+409", 0x0409},
  };
  for (const auto& [item, id] : cases) EXPECT_EQ(ParseLangIdHex(item), id) << item;
}

TEST(LanguageList, LocaleTable) {
  const struct {
    uint16_t id;
    const wchar_t* locale;
    const wchar_t* element;
  } rows[] = {
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
  std::set<uint16_t> known;
  for (const auto& row : rows) {
    std::wstring locale = L"stale";
    EXPECT_TRUE(LangIdToLocaleName(row.id, locale)) << row.locale;
    EXPECT_EQ(locale, row.locale);
    const wchar_t* element = ElementPathForLocale(locale);
    ASSERT_NE(element, nullptr) << row.locale;
    EXPECT_EQ(std::wstring(element), row.element);
    known.insert(row.id);
  }
  // Every other id, other sub-languages and bare primary languages included, is unknown.
  for (uint32_t id = 0; id <= 0xFFFF; ++id) {
    if (known.count(static_cast<uint16_t>(id))) continue;
    std::wstring locale = L"stale";
    ASSERT_FALSE(LangIdToLocaleName(static_cast<uint16_t>(id), locale)) << id;
    ASSERT_EQ(locale, L"stale");
  }
  EXPECT_EQ(ElementPathForLocale(L"en-gb"), nullptr);
  EXPECT_EQ(ElementPathForLocale(L"JA-JP"), nullptr);
  EXPECT_EQ(ElementPathForLocale(L""), nullptr);
}

TEST(LanguageList, StringLanguageIsTheFirstWithText) {
  // The string tables hold English and Japanese.
  const auto tables = [](uint16_t id) { return id == 0x0409 || id == 0x0411; };
  const std::pair<const wchar_t*, uint16_t> cases[] = {
      {L"0409,0411,0411,", 0x0409},  // English first
      {L"0407,0411,", 0x0411},       // German only, system Japanese
      {L"040C,040C,", 0x0409},       // French only: the final fallback
      {L"411,411,", 0x0411},         // Windows XP, Japanese UI
      {L"1409,0411,0409,", 0x0411},  // English (New Zealand) is not English (United States)
      {L"", 0x0409},
      {L",,0411,", 0x0411},          // empty items are skipped
  };
  for (const auto& [list, expected] : cases) EXPECT_EQ(ChooseStringLanguage(list, tables), expected) << list;

  // A language whose text is empty in the table is passed over like a missing one.
  const auto englishOnly = [](uint16_t id) { return id == 0x0409; };
  EXPECT_EQ(ChooseStringLanguage(L"0411,0409,", englishOnly), 0x0409);
}

TEST(LanguageList, CatalogueLanguage) {
  const struct {
    const wchar_t* list;
    uint16_t id;
    const wchar_t* element;
  } cases[] = {
      {L"0422,0409,", 0x0422, L"MessageInfo/RUS"},  // Ukrainian shares the Russian text
      {L"0407,0411,", 0x0407, L"MessageInfo/DEU"},
      {L"0809,0411,", 0x0411, L"MessageInfo/JPN"},  // English (United Kingdom) has no element
      {L"0816,041D,", 0x0409, L"MessageInfo/ENG"},  // Portuguese (Portugal), Swedish: fallback
      {L"", 0x0409, L"MessageInfo/ENG"},
      {L"zz,c0a,", 0x0C0A, L"MessageInfo/ESP"},
  };
  for (const auto& c : cases) {
    const wchar_t* element = nullptr;
    EXPECT_EQ(ChooseCatalogueLanguage(c.list, element), c.id) << c.list;
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(std::wstring(element), c.element) << c.list;
  }
}

}  // namespace
