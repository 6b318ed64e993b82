#pragma once
#include <string>

// The common application-data folder (ProgramData) under which every run keeps its work folder.
bool GetCommonAppDataFolder(std::wstring& path);
