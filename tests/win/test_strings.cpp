// String loading from the executable's real string tables, in English and Japanese.
#include <gtest/gtest.h>

#include "res/resource.h"
#include "ui/Strings.h"

namespace {
struct Row {
  UINT id;
  const wchar_t* english;
  const wchar_t* japanese;
};

const Row kTable[] = {
    {102, L"Segoe UI", L"Meiryo"},
    {104, L"OK", L"OK"},
    {105, L"Cancel", L"\u30ad\u30e3\u30f3\u30bb\u30eb"},
    {106, L"Extracting...", L"\u5c55\u958b\u4e2d\u2026"},
    {107, L"Can't Extract files!", L"\u30d5\u30a1\u30a4\u30eb\u3092\u5c55\u958b\u3067\u304d\u307e\u305b\u3093\u3002"},
    {108, L"This program runs on Halvo computers only. \nThis computer is not recognized as a Halvo computer.", nullptr},
    {109, L"There is not enough space on Local Disk (%s:). Increase the amount of free space and try again.", nullptr},
    {110, L"This program cannot run on the current operating system.\nA standard installation of Windows XP, "
          L"Windows Vista, Windows 7 or Windows 8 is required.", nullptr},
    {111, L"Cannot install because you are logged on as a user without administrator privileges. Log on as a user "
          L"with administrator privileges, and then try again.", nullptr},
    {112, L"Segoe UI", L"MS UI Gothic"},
    {130, L"Setup completed successfully.", L"\u30bb\u30c3\u30c8\u30a2\u30c3\u30d7\u304c\u6b63\u5e38\u7d42\u4e86\u3057\u307e\u3057\u305f\u3002"},
    {131, L"Setup failed.", L"\u30bb\u30c3\u30c8\u30a2\u30c3\u30d7\u306b\u5931\u6557\u3057\u307e\u3057\u305f\u3002"},
    {1008, L"(Error Code: 1001)", L"(\u30a8\u30e9\u30fc\u30b3\u30fc\u30c9\uff1a1001)"},
    {1009, L"(Error Code: 1002)", L"(\u30a8\u30e9\u30fc\u30b3\u30fc\u30c9\uff1a1002)"},
    {1010, L"(Error Code: 1003)", L"(\u30a8\u30e9\u30fc\u30b3\u30fc\u30c9\uff1a1003)"},
};
}  // namespace

TEST(Strings, EveryIdHasItsTextInBothLanguages) {
  for (const Row& row : kTable) {
    CString en, ja;
    ASSERT_TRUE(LoadStringForLanguage(en, nullptr, row.id, 0x0409)) << row.id;
    EXPECT_STREQ(row.english, en) << row.id;
    ASSERT_TRUE(LoadStringForLanguage(ja, nullptr, row.id, 0x0411)) << row.id;
    EXPECT_FALSE(ja.IsEmpty()) << row.id;
    if (row.japanese) EXPECT_STREQ(row.japanese, ja) << row.id;
  }
}

TEST(Strings, JapaneseTextsKeepTheirLineBreaksAndFormatMarks) {
  CString text;
  ASSERT_TRUE(LoadStringForLanguage(text, nullptr, 108, 0x0411));
  EXPECT_GE(text.Find(L'\n'), 0);
  ASSERT_TRUE(LoadStringForLanguage(text, nullptr, 110, 0x0411));
  EXPECT_GE(text.Find(L'\n'), 0);
  ASSERT_TRUE(LoadStringForLanguage(text, nullptr, 109, 0x0411));
  EXPECT_GE(text.Find(L"(%s:)"), 0);
}

TEST(Strings, OnlyExactLanguagesHaveBlocks) {
  CString text(L"unchanged");
  EXPECT_FALSE(LoadStringForLanguage(text, nullptr, 106, 0x0407));
  EXPECT_FALSE(LoadStringForLanguage(text, nullptr, 106, 0x1409));
  EXPECT_STREQ(L"unchanged", text);
  // An id the table does not hold in an existing block reads as an empty text, found.
  EXPECT_TRUE(LoadStringForLanguage(text, nullptr, 103, 0x0409));
  EXPECT_TRUE(text.IsEmpty());
  // A block that does not exist at all.
  EXPECT_FALSE(LoadStringForLanguage(text, nullptr, 5000, 0x0409));
}

TEST(Strings, UiLanguageListsComeFromThePlatform) {
  // Wine reports one language, taken from the environment (LC_ALL); English when unset.
  CString list;
  ULONG count = 0;
  ASSERT_TRUE(GetUserUiLanguages(count, list));
  EXPECT_GE(count, 1u);
  EXPECT_EQ(L',', list[list.GetLength() - 1]);
  EXPECT_EQ(5, list.Find(L',') + 1) << "items are four hex digits: " << static_cast<const wchar_t*>(list);
}

TEST(Strings, UiStringsFollowTheUserLanguageWithEnglishBehind) {
  CString list;
  ULONG count = 0;
  ASSERT_TRUE(GetUserUiLanguages(count, list));
  const bool japanese = list.Left(4) == L"0411";
  CString text;
  EXPECT_TRUE(LoadUiString(IDS_EXTRACTING, text));
  EXPECT_STREQ(japanese ? L"\u5c55\u958b\u4e2d\u2026" : L"Extracting...", text);
  EXPECT_FALSE(LoadUiString(103, text));  // in neither language
  EXPECT_TRUE(text.IsEmpty());
  if (!japanese) EXPECT_STREQ(L"Setup failed.", LoadStringOrEnglish(IDS_SETUP_FAILED));
  EXPECT_TRUE(LoadStringOrEnglish(103).IsEmpty());
}
