// The launcher's choices that cannot be seen from outside under Wine, and the association lookup
// against real registry values.
#include <gtest/gtest.h>
#include <windows.h>

#include "install/Launcher.h"

TEST(Launcher, VerbFollowsElevationFromVistaOn) {
  struct Case {
    DWORD major;
    const wchar_t* elevation;
    const wchar_t* verb;
  } cases[] = {
      {6, L"1", L"runas"}, {10, L"1", L"runas"}, {6, L"0", L"open"}, {6, L"", L"open"},
      {6, L"01", L"open"}, {6, L" 1", L"open"}, {6, L"true", L"open"}, {5, L"1", L"open"}, {4, L"1", L"open"},
  };
  for (const Case& c : cases) EXPECT_STREQ(c.verb, LaunchVerb(c.major, CString(c.elevation))) << c.major << " " << c.elevation;
}

namespace {
// Registers a file type under HKEY_CLASSES_ROOT for one test.
class AssociationTest : public testing::Test {
 protected:
  void Register(const wchar_t* ext, const wchar_t* type, DWORD kind, const wchar_t* command) {
    ext_ = ext;
    type_ = type;
    SetDefault(ext_, REG_SZ, type);
    SetDefault(type_ + L"\\shell\\open\\command", kind, command);
  }
  void SetDefault(const std::wstring& key, DWORD kind, const wchar_t* text) {
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h,
                                               nullptr));
    ::RegSetValueExW(h, nullptr, 0, kind, reinterpret_cast<const BYTE*>(text),
                     static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    ::RegCloseKey(h);
  }
  void TearDown() override {
    if (!ext_.empty()) ::RegDeleteTreeW(HKEY_CLASSES_ROOT, ext_.c_str());
    if (!type_.empty()) ::RegDeleteTreeW(HKEY_CLASSES_ROOT, type_.c_str());
  }
  std::wstring ext_, type_;
};
}  // namespace

TEST_F(AssociationTest, QuotedHostSwitchAndPlaceholder) {
  Register(L".tslunit", L"TslUnit.File", REG_SZ, L"\"C:\\Tools\\host.exe\" /install \"%1\" /log more");
  std::wstring program, args;
  ResolveAssociation(CString(L"C:\\Work\\setup.tslunit"), program, args);
  EXPECT_EQ(L"\"C:\\Tools\\host.exe\"", program);
  EXPECT_EQ(L"/install \"C:\\Work\\setup.tslunit\"", args);
}

TEST_F(AssociationTest, EnvironmentVariablesInTheHostAreExpanded) {
  ::SetEnvironmentVariableW(L"TESSEL_HOST_DIR", L"C:\\Hosts");
  Register(L".tslenv", L"TslEnv.File", REG_EXPAND_SZ, L"%TESSEL_HOST_DIR%\\run.exe \"%1\"");
  std::wstring program, args;
  ResolveAssociation(CString(L"C:\\Work\\a.tslenv"), program, args);
  EXPECT_EQ(L"C:\\Hosts\\run.exe", program);
  EXPECT_EQ(L"\"C:\\Work\\a.tslenv\"", args);
}

TEST_F(AssociationTest, AnExpansionThatDoesNotFitLeavesTheHostAsRegistered) {
  ::SetEnvironmentVariableW(L"TESSEL_LONG", std::wstring(300, L'x').c_str());
  Register(L".tsllong", L"TslLong.File", REG_SZ, L"%TESSEL_LONG%\\run.exe \"%1\"");
  std::wstring program, args;
  ResolveAssociation(CString(L"C:\\Work\\a.tsllong"), program, args);
  EXPECT_EQ(L"%TESSEL_LONG%\\run.exe", program);
}

TEST_F(AssociationTest, BinaryValuesAndMissingTypesRunTheInstallerItself) {
  std::wstring program, args;
  ResolveAssociation(CString(L"C:\\Work\\a.tslnothing"), program, args);
  EXPECT_EQ(L"C:\\Work\\a.tslnothing", program);
  EXPECT_EQ(L"", args);
  // A command stored as binary data does not count.
  ext_ = L".tslbin";
  type_ = L"TslBin.File";
  SetDefault(ext_, REG_SZ, L"TslBin.File");
  SetDefault(type_ + L"\\shell\\open\\command", REG_BINARY, L"C:\\host.exe \"%1\"");
  program.clear();
  ResolveAssociation(CString(L"C:\\Work\\b.tslbin"), program, args);
  EXPECT_EQ(L"C:\\Work\\b.tslbin", program);
}
