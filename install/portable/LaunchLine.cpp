#include "install/portable/LaunchLine.h"

namespace {

void TrimTrailingSpaces(std::wstring& s) {
  const size_t end = s.find_last_not_of(L' ');
  s.erase(end == std::wstring::npos ? 0 : end + 1);
}

void TrimSpaces(std::wstring& s) {
  TrimTrailingSpaces(s);
  const size_t begin = s.find_first_not_of(L' ');
  s.erase(0, begin == std::wstring::npos ? s.size() : begin);
}

// The first "/" outside double quotes: a "/" inside a quoted program path is part of the path.
size_t FindSwitch(const std::wstring& s) {
  bool quoted = false;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == L'"') {
      quoted = !quoted;
    } else if (s[i] == L'/' && !quoted) {
      return i;
    }
  }
  return std::wstring::npos;
}

}  // namespace

std::wstring ExtensionOf(const std::wstring& path) {
  const size_t nameStart = path.find_last_of(L"\\/");
  const size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos || (nameStart != std::wstring::npos && dot < nameStart)) return std::wstring();
  return path.substr(dot);
}

void SplitAssociationCommand(const std::wstring& command, const std::wstring& installerPath,
                             std::wstring& program, std::wstring& args) {
  std::wstring c;
  const size_t quoted = command.find(L"\"%1\"");
  if (quoted != std::wstring::npos) {
    c = command.substr(0, quoted);
  } else {
    const size_t plain = command.find(L"%1");
    if (plain != std::wstring::npos) c = command.substr(0, plain);
  }
  // Nothing before the placeholder (or only spaces): the installer runs by itself.
  TrimSpaces(c);
  if (c.empty()) {
    program = installerPath;
    return;
  }

  const std::wstring quotedInstaller = L"\"" + installerPath + L"\"";
  const size_t sw = FindSwitch(c);
  if (sw != std::wstring::npos) {
    args = c.substr(sw) + L" " + quotedInstaller;
    program = c.substr(0, sw);
    TrimTrailingSpaces(program);
  } else {
    program = c;
    args += quotedInstaller;
  }
}

std::wstring BuildLaunchLine(bool isExe, const std::wstring& program, std::wstring args,
                             const std::wstring& extraArgs) {
  if (!extraArgs.empty()) {
    if (!args.empty()) args += L' ';
    args += extraArgs;
  }
  TrimTrailingSpaces(args);
  std::wstring line = isExe ? L"Yes" : L"No";
  line += L'|';
  line += program;
  if (!args.empty()) {
    line += L'|';
    line += args;
  }
  TrimTrailingSpaces(line);
  return line;
}
