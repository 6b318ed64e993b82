#pragma once
// The program's own texts, in English or Japanese, from the string tables of its executable.
#include <windows.h>

#include "fw/String.h"

// The first language of the user's, then the system's, preferred UI languages for which the table
// holds a non-empty text, else English. True when a non-empty text was found.
bool LoadUiString(UINT id, CString& text);
// The platform's standard choice of language, with the English table as the fallback.
CString LoadStringOrEnglish(UINT id);
// The text in exactly that language; true when the block and entry exist (the text may be empty).
bool LoadStringForLanguage(CString& text, HMODULE module, UINT id, WORD language);
// Preferred UI languages as "0411,0409," lists (appended to list); count is what the platform reported.
bool GetUserUiLanguages(ULONG& count, CString& list);
bool GetSystemUiLanguages(ULONG& count, CString& list);
