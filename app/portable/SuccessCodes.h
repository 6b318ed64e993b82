#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Decimal conversion in the manner of _wtoi: leading white space (space, tab, CR, LF, VT, FF)
// skipped, optional sign, decimal digits up to the first other character, 0 when there are
// none. Because exit codes are 32-bit unsigned, a value from -2147483648 to 4294967295 is
// taken modulo 2^32 (so "4294967295" and "-1" name the same code); a value beyond that range
// is clamped to INT32_MIN or INT32_MAX as _wtoi clamps.
int32_t WtoiLike(const std::wstring& text);

// The package's success-code list: items separated by ";", empty items skipped, each item
// converted with WtoiLike (an item that is not a number therefore counts as 0).
std::vector<int32_t> ParseSuccessCodes(const std::wstring& list);

// True when the exit code equals one of the listed codes (compared as 32-bit values).
bool IsSuccessExitCode(uint32_t exitCode, const std::wstring& list);
