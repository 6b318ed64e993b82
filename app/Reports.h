#pragma once
// The reports that end or interrupt a run: warnings, failure boxes with an error code, and the
// result of the payload against the package's success codes.
#include <windows.h>

#include "fw/String.h"

// The platform's message box, captioned "Halvo Bundrel", with the warning icon and OK, in the
// user's UI language, for the warning codes of WM_TSL_WARNING: 101 no disk space (text: the drive
// letter, put into the message when given), 102 not a Halvo computer, 103 no cabinet library,
// 104 not an administrator. Other codes show nothing.
void ShowWarningBox(UINT code, const wchar_t* text);

// "Setup failed." directly followed by the string stringId (an error code such as
// "(Error Code: 1003)"), captioned "Error", with one OK button; modal on the calling thread.
void ShowFailureBox(UINT stringId);

// The result box of a finished run, shown only when showResult is exactly "1": "Setup completed
// successfully." when exitCode is one of successCodes (decimal codes separated by ";"), else
// "Setup failed.(Error Code: 1002)"; captioned with productName, one OK button, modal.
void ReportResultFor(DWORD exitCode, const CString& showResult, const CString& successCodes,
                     const CString& productName);
