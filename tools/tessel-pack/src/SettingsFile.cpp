#include "tools/tessel-pack/src/SettingsFile.h"

#include "settings/portable/SettingCodec.h"
#include "tools/tessel-pack/src/Util.h"

namespace tpack {

std::string ComposeIni(std::string_view section, const std::vector<IniValue>& values)
{
    std::string out = "[" + std::string(section) + "]\r\n";
    for (const IniValue& v : values)
        out += v.key + "=" + v.value + "\r\n";
    return out;
}

std::vector<IniValue> ParseIniSection(std::string_view bytes, std::string_view section, bool& sectionFound)
{
    std::vector<IniValue> values;
    sectionFound = false;
    bool inSection = false;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t nl = bytes.find('\n', pos);
        if (nl == std::string_view::npos)
            nl = bytes.size();
        const std::string line = Trim(bytes.substr(pos, nl - pos));
        pos = nl + 1;
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            const std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            inSection = AsciiIEquals(name, section);
            sectionFound = sectionFound || inSection;
            continue;
        }
        if (!inSection)
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        IniValue v{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
        bool repeated = false;
        for (const IniValue& prior : values)
            repeated = repeated || AsciiIEquals(prior.key, v.key);
        if (!repeated)
            values.push_back(std::move(v));
    }
    return values;
}

bool SettingKeyFromMd5Text(const std::string& md5Text, unsigned char key[16])
{
    const std::wstring wide(md5Text.begin(), md5Text.end());
    return SettingKeyFromChecksumText(wide, key);
}

}  // namespace tpack
