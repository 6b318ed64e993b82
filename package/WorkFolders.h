#pragma once
#include <string>

// The common application-data folder (ProgramData) under which every run keeps its work folder.
bool GetCommonAppDataFolder(std::wstring& path);

// True when a folder of the work path, from "Halvo Corporation" down to the path itself, is a
// junction or symbolic link: such a path must be neither written to nor cleaned.
bool WorkPathHasLink(const std::wstring& path);
