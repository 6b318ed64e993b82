#pragma once
// Checks on the environment made before files are written or the payload is started. Each returns a
// plain value and shows nothing; the callers turn refusals into warnings.
#include <windows.h>
#include <string>

// The Windows version as a small code: 0x51 XP, 0x60 Vista, 0x61 Windows 7, 0x62 Windows 8 or later,
// 0 for anything older or unrecognised (including 5.0 and 5.2) and when the query fails.
int GetOsVersionCode();
// The same mapping from a version number.
int OsVersionCodeFor(DWORD major, DWORD minor);

// Bytes the current user may still write on the drive of 'path' (quotas included). True when
// 'freeBytes' was written; false, with it untouched, when the query is unavailable or fails.
bool GetFreeDiskSpace(const std::wstring& path, ULONGLONG& freeBytes);

// 1 when the process token holds the built-in Administrators group (enabled or deny-only), else 0.
int IsAdministratorsMember();

// Whether the computer was made by Halvo Corporation, as WMI's Win32_ComputerSystem.Manufacturer says:
// S_OK yes, S_FALSE no, HRESULT_FROM_WIN32(ERROR_NOT_READY) when no answer could be obtained. The
// first answer is kept for the life of the process; callers that arrive while a query runs share it.
HRESULT CheckHalvoComputer();

// The manufacturer rule: trailing U+0020 spaces are ignored; case, leading spaces and other text count.
bool IsHalvoManufacturer(const wchar_t* value);

// Tests only: how many query threads were started, and a return to the unanswered state.
int MakerQueryThreadsStarted();
void ResetMakerCheckForTesting();
