#pragma once
#include <string>

// True when the command-line text holds a space-separated "-s" or "/s" (any case).
bool HasSilentSwitch(const std::wstring& commandLine);
