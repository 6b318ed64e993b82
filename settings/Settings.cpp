// Reading the package's settings files and decoding their stored values.
#include <windows.h>
#include <shlwapi.h>

#include <atomic>

#include "app/PackageRunner.h"
#include "settings/portable/Md5.h"
#include "settings/portable/SettingCodec.h"

namespace {
constexpr wchar_t kParamOption[] = L"ParamOption";
constexpr wchar_t kSetting[] = L"Setting";
constexpr wchar_t kAbsent[] = L"Error";  // the profile call's default: the key is not there
constexpr wchar_t kPayloadModule[] = L"UpdateModuleSetup.exe";

std::atomic<int> g_keyComputations{0};

std::string ToThreadAnsi(const wchar_t* text) {
  int n = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

CString FromThreadAnsi(const std::string& text) {
  if (text.empty()) return CString();
  int n = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  CString out;
  if (n <= 0) return out;
  ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), out.GetBuffer(n), n);
  out.ReleaseBuffer(n);
  return out;
}
}  // namespace

int SettingsKeyComputations() { return g_keyComputations.load(); }

bool CPackageRunner::ReadProfileValue(const wchar_t* section, const wchar_t* key, std::wstring& value,
                                      const std::wstring& iniPath) {
  wchar_t buffer[128] = {};
  DWORD n = ::GetPrivateProfileStringW(section, key, kAbsent, buffer, 128, iniPath.c_str());
  if (lstrcmpW(buffer, kAbsent) == 0) return n > 0;  // absent: the output keeps its value
  if (PayloadModuleExists()) {
    CString plain;
    DecryptSettingValue(CString(buffer), plain);  // a failed decoding leaves the value empty
    value = plain.Str();
  } else {
    value = buffer;  // no module, no key: the value is taken as stored
  }
  return true;
}

bool CPackageRunner::ReadParamOption(const wchar_t* key, std::wstring& value, const std::wstring& iniPath) {
  return ReadProfileValue(kParamOption, key, value, iniPath);
}

bool CPackageRunner::ReadSetting(const wchar_t* key, std::wstring& value, const std::wstring& iniPath) {
  return ReadProfileValue(kSetting, key, value, iniPath);
}

bool CPackageRunner::PayloadModuleExists() const {
  return ::PathFileExistsW((m_strWorkDir + kPayloadModule).c_str()) != FALSE;
}

bool CPackageRunner::ComputeKeyText(CString& keyText) {
  const std::wstring module = m_strWorkDir + kPayloadModule;
  if (!::PathFileExistsW(module.c_str())) return false;
  // The key is the checksum of the module as it is now. Reading the whole module for every value
  // is wasteful, so the last text is reused while the file is provably the same one, unchanged.
  ModuleStamp now;
  HANDLE h = ::CreateFileW(module.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileInformationByHandle(h, &info)) {
      now.valid = true;
      now.volume = info.dwVolumeSerialNumber;
      now.indexHigh = info.nFileIndexHigh;
      now.indexLow = info.nFileIndexLow;
      now.sizeHigh = info.nFileSizeHigh;
      now.sizeLow = info.nFileSizeLow;
      now.lastWrite = info.ftLastWriteTime;
    }
    ::CloseHandle(h);
  }
  const bool same = now.valid && m_keyStamp.valid && !m_strKeyText.IsEmpty() && now.volume == m_keyStamp.volume &&
                    now.indexHigh == m_keyStamp.indexHigh && now.indexLow == m_keyStamp.indexLow &&
                    now.sizeHigh == m_keyStamp.sizeHigh && now.sizeLow == m_keyStamp.sizeLow &&
                    ::CompareFileTime(&now.lastWrite, &m_keyStamp.lastWrite) == 0;
  if (!same) {
    ++g_keyComputations;
    m_strKeyText = CMD5Checksum::ChecksumOfFile(CString(module));
    m_keyStamp = m_strKeyText.IsEmpty() ? ModuleStamp{} : now;
  }
  keyText = m_strKeyText;
  return true;
}

bool CPackageRunner::DecryptSettingValue(const CString& stored, CString& plain) {
  if (stored.IsEmpty()) {
    plain.Empty();
    return true;
  }
  const std::string stored8 = ToThreadAnsi(stored);
  CString keyText;
  if (!ComputeKeyText(keyText) || keyText.IsEmpty()) return false;
  unsigned char key[16];
  const std::string key8 = ToThreadAnsi(keyText);
  if (key8.size() < 16) return false;
  for (int i = 0; i < 16; ++i) key[i] = static_cast<unsigned char>(key8[static_cast<size_t>(i)]);
  std::string text8;
  if (!DecodeSettingBytes(stored8.c_str(), key, text8)) return false;
  plain = FromThreadAnsi(text8);
  return true;
}
