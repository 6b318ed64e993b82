#pragma once
#include <string>

// The extension of the file named by path: from the last "." of its last component to the end,
// dot included; empty when that component has no ".". A dot in a folder name is no extension.
std::wstring ExtensionOf(const std::wstring& path);

// Turns a registered "open" command into the host program and its arguments for the installer
// at installerPath. The command is cut before its placeholder (before the opening quote of a
// quoted "%1", else before the first %1); a command without one means "run the installer
// itself": program = installerPath and args stay as they were; so does a command with only
// spaces before it. Otherwise the rest is trimmed of spaces and split at its first "/" outside
// double quotes (a "/" inside a quoted program path belongs to the path):
// program is the text before it (trailing spaces removed), args the switch text, a space and
// the quoted installer path. Without a switch the whole rest is the program and the quoted
// installer path is appended to args. Environment variables are left for the caller to expand.
void SplitAssociationCommand(const std::wstring& command, const std::wstring& installerPath,
                             std::wstring& program, std::wstring& args);

// The launch line handed to the payload module: "Yes" or "No" (whether the installer is an
// .exe), "|", the program, then "|" and the arguments when there are any; extraArgs is
// appended to the arguments after a space. Trailing spaces are removed; arguments that are
// nothing but spaces count as none.
std::wstring BuildLaunchLine(bool isExe, const std::wstring& program, std::wstring args,
                             const std::wstring& extraArgs);
