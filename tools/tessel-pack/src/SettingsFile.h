// The two settings files as bytes: composing them for a package and reading them back
// the way the stub's profile-string reads see them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tpack {

inline constexpr const char* kAssistFile8 = "AssistFile.ini";
inline constexpr const char* kAssistSection = "ParamOption";
inline constexpr const char* kMessageFile8 = "MessageSetting.ini";
inline constexpr const char* kMessageSection = "Setting";
inline constexpr const char* kModuleFile8 = "UpdateModuleSetup.exe";
inline constexpr const char* kMessageInfoFile8 = "MessageInfo.xml";
// AssistFile.ini key in which tessel-pack records the code page the values were written in,
// so inspect and verify can read them back without being told. The stub ignores it.
inline constexpr const char* kCodePageKey = "TesselCodePage";
// The stub reads a value into 128 UTF-16 units: 127 characters of stored text.
inline constexpr size_t kMaxStoredValueChars = 127;

struct IniValue {
    std::string key;
    std::string value;
};

// "[section]\r\nkey=value\r\n..." with no byte-order mark. Keys and values are bytes as given.
std::string ComposeIni(std::string_view section, const std::vector<IniValue>& values);

// The values of one section (section name compared ignoring ASCII case; the first of a
// repeated key wins, as with the profile-string call; blanks around keys and values dropped).
std::vector<IniValue> ParseIniSection(std::string_view bytes, std::string_view section, bool& sectionFound);

// Upper-case MD5 text -> the 16-byte settings key; false for a text that cannot be a checksum.
bool SettingKeyFromMd5Text(const std::string& md5Text, unsigned char key[16]);

}  // namespace tpack
