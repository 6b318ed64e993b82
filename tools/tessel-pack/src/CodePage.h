// Conversions between UTF-8 (what the tool reads and prints) and the Windows ANSI code page
// the stub will decode settings with. Strict: a character the code page lacks is an error,
// never a silent substitution.
#pragma once

#include <string>
#include <string_view>

namespace tpack {

// iconv name for a Windows code page number: 1252 -> "CP1252", 65001 -> "UTF-8".
std::string IconvNameOfCodePage(int codePage);
bool IsSupportedCodePage(int codePage);
// Accepts "1252", "cp1252", "CP932", "utf-8"; false when not a number the tool can convert.
bool ParseCodePage(std::string_view text, int& codePage);

bool Utf8ToCodePage(std::string_view utf8, int codePage, std::string& out);
bool CodePageToUtf8(std::string_view bytes, int codePage, std::string& out);

// First UTF-8 character of `utf8` that the code page cannot represent (empty when all can).
std::string FirstUnrepresentable(std::string_view utf8, int codePage);

}  // namespace tpack
