#pragma once
// The package's question before the payload runs: its text comes from MessageInfo.xml in the
// user's language, its buttons from the string tables, and the answer says whether to go on.
#include <windows.h>

#include <string>

#include "fw/String.h"

// Shows the catalogue's message from folder\MessageInfo.xml under caption, with OK alone
// (okOnly set) or OK and Cancel, and returns false only when the user declined (Cancel or closing
// the two-button box). No catalogue, no usable element, or a failing DOM: showFlag is cleared (in
// the caller's copy too), no box appears, and the answer is true. A clear showFlag shows no box.
bool AskUser(BYTE& showFlag, BYTE okOnly, const std::wstring& folder, const CString& caption);

// AskUser with the preferred-language list given ("0407,0411,": the user's languages, then the
// system's) instead of asking the platform for it.
bool AskUserForLanguages(BYTE& showFlag, BYTE okOnly, const std::wstring& folder, const CString& caption,
                         const std::wstring& languageList);
