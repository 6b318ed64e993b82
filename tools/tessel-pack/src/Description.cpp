#include "tools/tessel-pack/src/Description.h"

#include "tools/tessel-pack/src/CodePage.h"
#include "tools/tessel-pack/src/Util.h"

#include <set>

namespace tpack {

const std::vector<std::string>& KnownAssistKeys()
{
    static const std::vector<std::string> keys = {
        "ExecuteFileName", "ParamManual", "ParamSRM",   "ParamSRAU",  "ProductName", "ExtractPathByUser",
        "UseHalvoCheck",   "Elevation",   "ShowResult", "SuccessCode", "enc_data",
    };
    return keys;
}

const std::vector<std::string>& KnownMessageKeys()
{
    static const std::vector<std::string> keys = {"IsShowMessageBox", "IsOk"};
    return keys;
}

const SettingSpec* FindSetting(const std::vector<SettingSpec>& settings, std::string_view key)
{
    for (const SettingSpec& s : settings)
        if (AsciiIEquals(s.key, key))
            return &s;
    return nullptr;
}

namespace {

enum class Section { None, Package, Assist, Message, Cabinet, Files, Group };

// Splits "key = value" at the first '=' outside a leading quoted key. A line without '='
// gives an empty key and the whole line as value (file lists allow that form).
struct KeyValue {
    std::string key;
    std::string value;
    bool hasEquals = false;
    bool ok = true;
};

std::string Unquote(const std::string& text, bool& ok)
{
    ok = true;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    if (!text.empty() && text.front() == '"') {
        ok = false;  // opened but never closed
        return text;
    }
    return text;
}

KeyValue SplitKeyValue(const std::string& line)
{
    KeyValue kv;
    size_t eq = std::string::npos;
    if (!line.empty() && line.front() == '"') {
        const size_t close = line.find('"', 1);
        if (close == std::string::npos) {
            kv.ok = false;
            return kv;
        }
        eq = line.find('=', close + 1);
        if (eq != std::string::npos && !Trim(line.substr(close + 1, eq - close - 1)).empty()) {
            kv.ok = false;
            return kv;
        }
    } else {
        eq = line.find('=');
    }
    bool okKey = true;
    bool okValue = true;
    if (eq == std::string::npos) {
        kv.value = Unquote(Trim(line), okValue);
    } else {
        kv.hasEquals = true;
        kv.key = Unquote(Trim(line.substr(0, eq)), okKey);
        kv.value = Unquote(Trim(line.substr(eq + 1)), okValue);
    }
    kv.ok = okKey && okValue;
    return kv;
}

bool IsPlainKeyName(const std::string& key)
{
    if (key.empty())
        return false;
    for (char c : key) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '-' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

std::string CanonicalKey(const std::string& key, const std::vector<std::string>& known, bool& isKnown)
{
    for (const std::string& k : known)
        if (AsciiIEquals(k, key)) {
            isKnown = true;
            return k;
        }
    isKnown = false;
    return key;
}

std::string LastPathComponent(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool ParseDescription(const std::string& textIn, const std::filesystem::path& descriptionPath,
                      const std::filesystem::path& baseDir, PackageDescription& out, std::string& error)
{
    out = PackageDescription{};
    out.descriptionPath = descriptionPath;
    out.baseDir = baseDir;

    std::string text = textIn;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    if (!IsValidUtf8(text)) {
        error = descriptionPath.string() + ": the description is not UTF-8 text";
        return false;
    }

    const std::string where = descriptionPath.string();
    int lineNo = 0;
    auto fail = [&](const std::string& what) {
        error = where + ":" + std::to_string(lineNo) + ": " + what;
        return false;
    };
    auto resolve = [&](const std::string& p) -> std::filesystem::path {
        std::filesystem::path path(p);
        return path.is_absolute() ? path : baseDir / path;
    };

    Section section = Section::None;
    std::set<std::string> seenSections;
    std::set<std::string> seenPackageKeys;
    std::set<std::string> seenCabinetKeys;
    bool compressionGiven = false;
    GroupSpec* currentGroup = nullptr;

    size_t pos = 0;
    while (pos <= text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos)
            nl = text.size();
        std::string raw = text.substr(pos, nl - pos);
        pos = nl + 1;
        ++lineNo;
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';') {
            if (nl == text.size())
                break;
            continue;
        }

        if (line[0] == '[') {
            if (line.back() != ']')
                return fail("section header " + Quote(line) + " lacks its closing ']'");
            const std::string inner = Trim(line.substr(1, line.size() - 2));
            const size_t space = inner.find_first_of(" \t");
            const std::string word = AsciiLower(inner.substr(0, space));
            currentGroup = nullptr;
            if (word == "group") {
                const std::string name = space == std::string::npos ? std::string() : Trim(inner.substr(space + 1));
                bool ok = true;
                const std::string unq = Unquote(name, ok);
                if (unq.empty() || !ok)
                    return fail("a [group NAME] section needs a group name");
                for (const GroupSpec& g : out.groups)
                    if (g.name == unq)
                        return fail("group " + Quote(unq) + " is described twice (first on line " +
                                    std::to_string(g.line) + ")");
                out.groups.push_back(GroupSpec{unq, {}, lineNo});
                currentGroup = &out.groups.back();
                section = Section::Group;
                continue;
            }
            if (space != std::string::npos)
                return fail("unknown section " + Quote(line));
            if (word == "package")
                section = Section::Package;
            else if (word == "assist")
                section = Section::Assist;
            else if (word == "message")
                section = Section::Message;
            else if (word == "cabinet")
                section = Section::Cabinet;
            else if (word == "files")
                section = Section::Files;
            else
                return fail("unknown section " + Quote(line) +
                            " (known: [package], [assist], [message], [cabinet], [files], [group NAME])");
            if (!seenSections.insert(word).second)
                return fail("section [" + word + "] appears twice");
            if (section == Section::Assist)
                out.hasAssist = true;
            if (section == Section::Message)
                out.hasMessage = true;
            if (section == Section::Cabinet)
                out.cabinetLine = lineNo;
            continue;
        }

        const KeyValue kv = SplitKeyValue(line);
        if (!kv.ok)
            return fail("unbalanced double quotes in " + Quote(line));

        switch (section) {
        case Section::None:
            return fail("a line outside any section; start with a section such as [package]");

        case Section::Package: {
            if (!kv.hasEquals)
                return fail("expected 'key = value' in [package]");
            const std::string key = AsciiLower(kv.key);
            if (!seenPackageKeys.insert(key).second)
                return fail("'" + kv.key + "' is given twice in [package]");
            if (key == "stub" || key == "output" || key == "module") {
                if (kv.value.empty())
                    return fail("'" + kv.key + "' needs a path");
                std::filesystem::path p = resolve(kv.value);
                if (key == "stub")
                    out.stub = p;
                else if (key == "output")
                    out.output = p;
                else
                    out.module = p;
            } else if (key == "codepage") {
                if (!ParseCodePage(kv.value, out.codePage))
                    return fail("code page " + Quote(kv.value) +
                                " is not supported here (use 1252 for Western European or 932 for Japanese)");
            } else {
                return fail("unknown key '" + kv.key + "' in [package] (known: stub, output, module, codepage)");
            }
            break;
        }

        case Section::Assist:
        case Section::Message: {
            if (!kv.hasEquals)
                return fail("expected 'Key = value' in a settings section");
            if (!IsPlainKeyName(kv.key))
                return fail("settings key " + Quote(kv.key) + " must consist of letters, digits, '_', '-' or '.'");
            const bool assist = section == Section::Assist;
            auto& list = assist ? out.assist : out.message;
            bool known = false;
            const std::string key = CanonicalKey(kv.key, assist ? KnownAssistKeys() : KnownMessageKeys(), known);
            if (const SettingSpec* prior = FindSetting(list, key))
                return fail("'" + key + "' is given twice (first on line " + std::to_string(prior->line) + ")");
            if (!known)
                out.warnings.push_back(where + ":" + std::to_string(lineNo) + ": '" + key +
                                       "' is not a key the stub reads; it is stored as given");
            list.push_back(SettingSpec{key, kv.value, lineNo});
            break;
        }

        case Section::Cabinet: {
            if (!kv.hasEquals)
                return fail("expected 'key = value' in [cabinet]");
            const std::string key = AsciiLower(kv.key);
            if (!seenCabinetKeys.insert(key).second)
                return fail("'" + kv.key + "' is given twice in [cabinet]");
            if (key == "folder" || key == "file") {
                if (out.cabinetKind != CabinetKind::None)
                    return fail("[cabinet] takes either 'folder' or 'file', not both");
                if (kv.value.empty())
                    return fail("'" + kv.key + "' needs a path");
                out.cabinetKind = key == "folder" ? CabinetKind::Folder : CabinetKind::File;
                out.cabinetSource = resolve(kv.value);
            } else if (key == "compression") {
                const std::string v = AsciiLower(kv.value);
                if (v == "mszip")
                    out.compression = CabinetCompression::Mszip;
                else if (v == "none")
                    out.compression = CabinetCompression::None;
                else
                    return fail("compression " + Quote(kv.value) + " is not supported (use mszip or none)");
                compressionGiven = true;
            } else {
                return fail("unknown key '" + kv.key + "' in [cabinet] (known: folder, file, compression)");
            }
            break;
        }

        case Section::Files:
        case Section::Group: {
            FileSpec item;
            item.line = lineNo;
            if (kv.hasEquals) {
                if (kv.key.empty() || kv.value.empty())
                    return fail("expected 'EntryName = path' or a bare path");
                item.entryName = kv.key;
                item.source = resolve(kv.value);
            } else {
                if (kv.value.empty())
                    return fail("expected 'EntryName = path' or a bare path");
                item.entryName = LastPathComponent(kv.value);
                item.source = resolve(kv.value);
            }
            if (section == Section::Files)
                out.files.push_back(item);
            else
                currentGroup->files.push_back(item);
            break;
        }
        }
        if (nl == text.size())
            break;
    }

    lineNo = out.cabinetLine;
    if (seenSections.count("cabinet") && out.cabinetKind == CabinetKind::None)
        return fail("[cabinet] needs 'folder = DIR' or 'file = READY.cab' (leave the section out for no cabinet)");
    if (compressionGiven && out.cabinetKind == CabinetKind::File)
        return fail("'compression' applies only to a cabinet built from a folder");
    return true;
}

bool LoadDescription(const std::filesystem::path& path, PackageDescription& out, std::string& error)
{
    std::string text;
    if (!ReadSmallFile(path, text, error, 4u << 20))
        return false;
    std::filesystem::path base = path.parent_path();
    if (base.empty())
        base = ".";
    return ParseDescription(text, path, base, out, error);
}

}  // namespace tpack
