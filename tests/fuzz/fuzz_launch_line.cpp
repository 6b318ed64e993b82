// Fuzzes the association command split and the launch line built from it.
// Input lines: the registered command, the installer path, extra arguments, initial args.
#include "install/portable/LaunchLine.h"
#include "tests/fuzz/FuzzText.h"

namespace {

void CheckLine(const std::wstring& line, bool isExe) {
  const std::wstring head = isExe ? L"Yes|" : L"No|";
  FUZZ_CHECK(line.compare(0, head.size(), head) == 0);
  FUZZ_CHECK(line.back() != L' ');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto parts = fuzz::SplitLines(fuzz::BytesToWide(data, size), 4);
  const std::wstring& command = parts[0];
  const std::wstring& installer = parts[1];
  const std::wstring& extra = parts[2];

  const std::wstring ext = ExtensionOf(installer);
  if (!ext.empty()) {
    FUZZ_CHECK(ext[0] == L'.');
    FUZZ_CHECK(ext.find_first_of(L"\\/") == std::wstring::npos);
    FUZZ_CHECK(installer.size() >= ext.size() &&
               installer.compare(installer.size() - ext.size(), ext.size(), ext) == 0);
  }

  std::wstring program = L"unset";
  std::wstring args = parts[3];
  SplitAssociationCommand(command, installer, program, args);
  if (command.find(L"%1") == std::wstring::npos) {
    FUZZ_CHECK(program == installer);
    FUZZ_CHECK(args == parts[3]);
  }

  const bool isExe = ext == L".exe";
  CheckLine(BuildLaunchLine(isExe, program, args, extra), isExe);
  // The builder on its own, with raw parts in every position.
  CheckLine(BuildLaunchLine(!isExe, command, installer, extra), !isExe);
  return 0;
}
