#pragma once
#include <string>

#include "fw/String.h"

// The host program registered for the installer's file type and the arguments that name the installer.
void ResolveAssociation(const CString& installer, std::wstring& program, std::wstring& args);
