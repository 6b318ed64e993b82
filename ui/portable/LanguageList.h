#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Language lists are texts of items, each a hexadecimal language id followed by ",":
// "0411,0409," from the preferred-language functions, "411," from the single-language ones.

// Item number index (from 0) of the list. False, with an empty item, when the list has fewer
// than index + 1 items; the text after the last "," counts as an item, so "0409," has an empty
// item 1 and no item 2. False for a null list.
bool GetListItem(std::wstring& item, const wchar_t* list, int index);

// Appends the entries of a double-null-terminated string list (at most sizeInUnits units) to
// out, each followed by ",". False only for a null buffer.
bool MultiSzToList(const wchar_t* buffer, size_t sizeInUnits, std::wstring& out);

// An item read as swscanf's "%hx" reads it: white space skipped, optional sign, optional "0x",
// hexadecimal digits, the value taken modulo 2^16; 0 when nothing parses.
uint16_t ParseLangIdHex(const std::wstring& item);

// Lower-case locale name of the exact language id ("ja-jp" for 0x0411). False, with
// localeName untouched, for an id outside the 22 the message catalogue knows.
bool LangIdToLocaleName(uint16_t langId, std::wstring& localeName);

// Catalogue element of a locale name ("ja-jp" -> "MessageInfo/JPN"; "uk-ua" shares the Russian
// element); nullptr for an unknown name.
const wchar_t* ElementPathForLocale(const std::wstring& localeName);

// The language of a UI string: the first item of the combined user and system list for which
// hasNonEmptyText holds, else English (0x0409). Empty items are skipped.
uint16_t ChooseStringLanguage(const std::wstring& combinedList,
                              const std::function<bool(uint16_t)>& hasNonEmptyText);

// The language of the catalogue message: the first item with a locale name, else English.
// elementPath receives that language's element ("MessageInfo/ENG" for the fallback).
uint16_t ChooseCatalogueLanguage(const std::wstring& combinedList, const wchar_t*& elementPath);
