// Reading and decoding the package's settings files, with real INI files and a real module file.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/PackageRunner.h"
#include "settings/portable/Md5.h"
#include "settings/portable/SettingCodec.h"

namespace {
class SettingsTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"tessel-settings-" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
    ::CreateDirectoryW(dir_.c_str(), nullptr);
    runner_.m_strWorkDir = dir_;
  }
  void TearDown() override {
    ::DeleteFileW((dir_ + L"AssistFile.ini").c_str());
    ::DeleteFileW((dir_ + L"UpdateModuleSetup.exe").c_str());
    ::RemoveDirectoryW(dir_.c_str());
  }

  void WriteFile(const std::wstring& name, const std::string& bytes) {
    HANDLE h = ::CreateFileW((dir_ + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD put = 0;
    ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    ::CloseHandle(h);
  }

  // Writes the module and returns the settings key taken from its checksum.
  void WriteModule(const std::string& content) {
    WriteFile(L"UpdateModuleSetup.exe", content);
    CMD5Checksum md5;
    md5.AddData(reinterpret_cast<const unsigned char*>(content.data()), static_cast<uint32_t>(content.size()));
    ASSERT_TRUE(SettingKeyFromChecksumText(md5.Finish(), key_));
  }

  std::string Encode(const std::string& plain) { return EncodeSettingBytes(plain, key_); }

  std::wstring Read(const wchar_t* key, std::wstring initial = L"") {
    runner_.ReadParamOption(key, initial, dir_ + L"AssistFile.ini");
    return initial;
  }

  std::wstring dir_;
  unsigned char key_[16] = {};
  CPackageRunner runner_{nullptr};
};
}  // namespace

TEST_F(SettingsTest, StoredValuesDecodeWithTheModulesKey) {
  WriteModule("module bytes");
  const std::string block = Encode("1");                                  // one block: 24 characters
  const std::string two = Encode("a text longer than one block");         // two blocks: 44 characters
  const std::string sixteen = Encode("exactly16chars!!");                 // no zero byte in the block
  ASSERT_EQ(24u, block.size());
  ASSERT_EQ(44u, two.size());
  WriteFile(L"AssistFile.ini", "[ParamOption]\r\nA=" + block + "\r\nB=" + two + "\r\nC=" + sixteen +
                                   "\r\nEmpty=\r\nLiteral=Error\r\n");
  EXPECT_EQ(L"1", Read(L"A"));
  EXPECT_EQ(L"a text longer than one block", Read(L"B"));
  EXPECT_EQ(L"exactly16chars!!", Read(L"C"));
  EXPECT_EQ(L"", Read(L"Empty", L"before"));        // present and empty
  EXPECT_EQ(L"before", Read(L"Literal", L"before"));  // "Error" reads as absent
  EXPECT_EQ(L"before", Read(L"Missing", L"before"));
}

TEST_F(SettingsTest, ValuesThatDoNotDecodeReadAsEmpty) {
  WriteModule("module bytes");
  const std::string good = Encode("value");
  WriteFile(L"AssistFile.ini", "[ParamOption]\r\nShort=" + good.substr(0, 23) + "\r\nLong=" + good + "A\r\nSpace=" +
                                   good.substr(0, 10) + " " + good.substr(11) + "\r\nTiny=QUJD\r\n");
  for (const wchar_t* key : {L"Short", L"Long", L"Space", L"Tiny"}) EXPECT_EQ(L"", Read(key, L"before")) << key;
}

TEST_F(SettingsTest, WithoutTheModuleValuesAreTakenAsStored) {
  WriteFile(L"AssistFile.ini", "[ParamOption]\r\nFlag=1\r\n");
  EXPECT_FALSE(runner_.PayloadModuleExists());
  EXPECT_EQ(L"1", Read(L"Flag"));
}

TEST_F(SettingsTest, MissingFileLeavesEveryOutputAlone) {
  std::wstring value = L"kept";
  EXPECT_TRUE(runner_.ReadParamOption(L"ProductName", value, dir_ + L"AssistFile.ini"));
  EXPECT_EQ(L"kept", value);
}

TEST_F(SettingsTest, ModuleIsReadOnceWhileItStaysTheSame) {
  WriteModule("first module");
  const std::string a = Encode("A"), b = Encode("B");
  WriteFile(L"AssistFile.ini", "[ParamOption]\r\nA=" + a + "\r\nB=" + b + "\r\n");
  const int before = SettingsKeyComputations();
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(L"A", Read(L"A"));
    EXPECT_EQ(L"B", Read(L"B"));
  }
  EXPECT_EQ(before + 1, SettingsKeyComputations());

  // A different module (other size) means another key: the old values no longer decode to their text.
  WriteModule("a second, longer module");
  EXPECT_NE(L"A", Read(L"A"));
  EXPECT_EQ(before + 2, SettingsKeyComputations());
}
