#pragma once
#include <string>

#include <windows.h>

#include "fw/String.h"

// The shell verb for the payload module: "runas" when the package asks for elevation (Elevation
// exactly "1") on Windows Vista or later, "open" otherwise.
const wchar_t* LaunchVerb(DWORD majorVersion, const CString& elevation);

// The host program registered for the installer's file type and the arguments that name the installer.
void ResolveAssociation(const CString& installer, std::wstring& program, std::wstring& args);
