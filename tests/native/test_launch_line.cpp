#include <gtest/gtest.h>

#include <string>

#include "install/portable/LaunchLine.h"

namespace {

const std::wstring kInstaller = L"C:\\ProgramData\\Halvo Corporation\\Halvo Bundrel\\PackagingTemp\\{GUID}\\setup.msi";

TEST(LaunchLine, ExtensionOf) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"C:\\t\\setup.exe", L".exe"},     {L"C:\\t\\Setup.Bat", L".Bat"},  {L"C:\\t\\a.tar.gz", L".gz"},
      {L"C:\\t\\noext", L""},             {L"C:\\t.d\\noext", L""},        {L"C:\\t\\trailing.", L"."},
      {L"setup.msi", L".msi"},            {L"", L""},                       {L"C:/t.d/noext", L""},
  };
  for (const auto& [path, ext] : cases) EXPECT_EQ(ExtensionOf(path), ext) << path;
}

struct SplitCase {
  const wchar_t* command;
  const wchar_t* argsBefore;
  const wchar_t* program;
  const wchar_t* args;
};

TEST(LaunchLine, SplitAssociationCommand) {
  const std::wstring q = L"\"" + kInstaller + L"\"";
  const SplitCase cases[] = {
      // Quoted program, a switch, the quoted placeholder and more: the tail is dropped.
      {L"\"C:\\Program Files\\Viewer\\view.exe\" /open \"%1\" /extra", L"",
       L"\"C:\\Program Files\\Viewer\\view.exe\"", L"/open Q"},
      // msiexec's own registration.
      {L"%SystemRoot%\\System32\\msiexec.exe /i \"%1\" %*", L"", L"%SystemRoot%\\System32\\msiexec.exe", L"/i Q"},
      // Unquoted placeholder, no switch: the rest is the program, the quoted installer is appended.
      {L"%SystemRoot%\\system32\\NOTEPAD.EXE %1", L"", L"%SystemRoot%\\system32\\NOTEPAD.EXE", L"Q"},
      {L"  C:\\Tools\\open.exe   %1  ", L"keep ", L"C:\\Tools\\open.exe", L"keep Q"},
      {L"rundll32.exe \"C:\\x.dll\",Open %1", L"", L"rundll32.exe \"C:\\x.dll\",Open", L"Q"},
      // No placeholder, or nothing before it: the installer runs by itself, args untouched.
      {L"C:\\Tools\\open.exe", L"keep", kInstaller.c_str(), L"keep"},
      {L"", L"", kInstaller.c_str(), L""},
      {L"\"%1\" %*", L"", kInstaller.c_str(), L""},
      {L"   \"%1\"", L"", kInstaller.c_str(), L""},
      // The quoted placeholder wins over an earlier bare one.
      {L"x.exe /a %1 /b \"%1\"", L"", L"x.exe", L"/a %1 /b Q"},
      // A "/" inside a quoted program path is part of the path; the first one outside splits.
      {L"\"C:\\Apps/Tool\\x.exe\" /p \"%1\"", L"", L"\"C:\\Apps/Tool\\x.exe\"", L"/p Q"},
      {L"x.exe/p %1", L"", L"x.exe", L"/p Q"},
  };
  for (const SplitCase& c : cases) {
    std::wstring program = L"stale", args = c.argsBefore;
    SplitAssociationCommand(c.command, kInstaller, program, args);
    std::wstring expectedArgs = c.args;
    for (size_t at; (at = expectedArgs.find(L'Q')) != std::wstring::npos;) expectedArgs.replace(at, 1, q);
    EXPECT_EQ(program, c.program) << c.command;
    EXPECT_EQ(args, expectedArgs) << c.command;
  }
}

struct LineCase {
  bool isExe;
  const wchar_t* program;
  const wchar_t* args;
  const wchar_t* extra;
  const wchar_t* line;
};

TEST(LaunchLine, BuildLaunchLine) {
  const LineCase cases[] = {
      {true, L"C:\\w\\setup.exe", L"", L"", L"Yes|C:\\w\\setup.exe"},
      {true, L"C:\\w\\setup.exe", L"", L"/quiet -s ", L"Yes|C:\\w\\setup.exe|/quiet -s"},
      {false, L"C:\\Windows\\system32\\cmd.exe", L"/c \"C:\\w\\run.Bat\"", L"", L"No|C:\\Windows\\system32\\cmd.exe|/c \"C:\\w\\run.Bat\""},
      {false, L"C:\\Windows\\system32\\cmd.exe", L"/c \"C:\\w\\run.bat\"", L"/x ",
       L"No|C:\\Windows\\system32\\cmd.exe|/c \"C:\\w\\run.bat\" /x"},
      // Without a system folder the batch file goes unquoted as the argument.
      {false, L"", L"C:\\w\\run.bat", L"", L"No||C:\\w\\run.bat"},
      {false, L"\"C:\\V\\view.exe\"", L"/open \"C:\\w\\a.msi\"", L"manual -s ", L"No|\"C:\\V\\view.exe\"|/open \"C:\\w\\a.msi\" manual -s"},
      // Every trailing space goes; arguments of spaces only are no arguments.
      {true, L"C:\\w\\setup.exe", L"", L"a   ", L"Yes|C:\\w\\setup.exe|a"},
      {true, L"C:\\w\\setup.exe", L"", L"  ", L"Yes|C:\\w\\setup.exe"},
      {false, L"C:\\w\\noext  ", L"", L"", L"No|C:\\w\\noext"},
      // Inner spaces and "|" are not touched.
      {true, L"C:\\w\\setup.exe", L"", L"a  b|c ", L"Yes|C:\\w\\setup.exe|a  b|c"},
  };
  for (const LineCase& c : cases)
    EXPECT_EQ(BuildLaunchLine(c.isExe, c.program, c.args, c.extra), c.line) << c.line;
}

}  // namespace
