#include "tools/tessel-pack/src/Analysis.h"

#include "tools/tessel-pack/src/CodePage.h"
#include "tools/tessel-pack/src/SettingsFile.h"

#include "settings/portable/Md5.h"
#include "settings/portable/SettingCodec.h"

#include <set>

namespace tpack {

namespace {

constexpr uint64_t kMaxSettingsFileBytes = 1u << 20;

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

bool Md5OfBody(const PackageFile& pkg, const BodyInfo& body, std::string& md5Text, std::string& error)
{
    CMD5Checksum md5;
    if (!pkg.ReadBody(body, [&](const unsigned char* p, size_t n) {
            md5.AddData(p, static_cast<uint32_t>(n));
            return true;
        }, error))
        return false;
    md5Text = Narrow(md5.Finish());
    return true;
}

void CheckStructure(Analysis& a)
{
    PackageFile& pkg = a.package;
    if (!pkg.hasMzHeader || !pkg.hasPeHeader)
        a.problems.push_back("the file is not a Windows PE image (no MZ header with a PE signature)");
    if (pkg.status != IndexStatus::Ok) {
        a.problems.push_back(std::string("package index: ") + IndexStatusText(pkg.status));
        return;
    }
    if (pkg.bodiesEnd > pkg.fileSize)
        a.problems.push_back("the bodies end at " + HexOffset(pkg.bodiesEnd) + ", past the end of the file (" +
                             HexOffset(pkg.fileSize) + "): the package is truncated");
    const std::u16string primary(kPrimaryGroupName);
    bool havePrimary = false;
    for (size_t g = 0; g < pkg.groups.size(); ++g) {
        const PackageGroupLayout& group = pkg.groups[g];
        if (!IsBareName(group.name))
            a.problems.push_back("group name " + Quote(Utf16ToUtf8(group.name)) + " is not a bare name");
        havePrimary = havePrimary || group.name == primary;
        std::set<std::string> seen;
        for (const PackageEntry& e : group.entries) {
            const std::string name = Utf16ToUtf8(e.name);
            if (!IsBareName(e.name))
                a.problems.push_back("entry name " + Quote(name) + " is not a bare file name");
            if (!seen.insert(AsciiLower(name)).second)
                a.problems.push_back("entry name " + Quote(name) + " occurs twice in group " +
                                     Quote(Utf16ToUtf8(group.name)) + " (names ignore case)");
        }
    }
    if (!havePrimary) {
        a.problems.push_back("the primary group " + Quote(Utf16ToUtf8(primary)) +
                             " is missing: the stub would extract nothing");
        return;
    }
    // AssistFile.ini and the module must be on disk before the stub's settings step, which
    // runs at the cabinet entry or the first entry that is not one of the fixed files.
    const std::vector<PackageEntry>& entries = pkg.index.at(primary);
    long assistAt = -1;
    long moduleAt = -1;
    long triggerAt = -1;
    for (size_t i = 0; i < entries.size(); ++i) {
        const PackageEntry& e = entries[i];
        if (EqualsIgnoreAsciiCase(e.name, Utf8ToUtf16(kAssistFile8)) && assistAt < 0)
            assistAt = static_cast<long>(i);
        else if (EqualsIgnoreAsciiCase(e.name, Utf8ToUtf16(kModuleFile8)) && moduleAt < 0)
            moduleAt = static_cast<long>(i);
        else if ((IsCabinetEntryName(e.name) || !IsFixedFileName(e.name)) && triggerAt < 0)
            triggerAt = static_cast<long>(i);
    }
    if (assistAt < 0)
        a.problems.push_back(std::string(kAssistFile8) + " is missing from the primary group");
    if (moduleAt < 0)
        a.problems.push_back(std::string(kModuleFile8) + " is missing from the primary group");
    if (triggerAt >= 0) {
        const std::string trigger = Utf16ToUtf8(entries[static_cast<size_t>(triggerAt)].name);
        if (assistAt > triggerAt)
            a.problems.push_back(std::string(kAssistFile8) + " comes after " + Quote(trigger) +
                                 ": the stub reads its settings before it is written");
        if (moduleAt > triggerAt)
            a.problems.push_back(std::string(kModuleFile8) + " comes after " + Quote(trigger) +
                                 ": the stub cannot decode its settings at that point");
    }
}

void ReadSettingsFile(Analysis& a, SettingsReport& report, const char* entry, const char* section, bool required)
{
    report.entry = entry;
    report.section = section;
    PackageFile& pkg = a.package;
    const BodyInfo* body = pkg.FindBody(std::u16string(kPrimaryGroupName), Utf8ToUtf16(entry));
    if (!body)
        return;
    report.present = true;
    std::string bytes;
    std::string error;
    if (!pkg.ReadBodyToString(*body, bytes, error, kMaxSettingsFileBytes)) {
        a.problems.push_back(std::string(entry) + ": " + error);
        return;
    }
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0 || bytes.rfind("\xFF\xFE", 0) == 0)
        a.problems.push_back(std::string(entry) + " starts with a byte-order mark; the stub expects ANSI text");
    const std::vector<IniValue> values = ParseIniSection(bytes, section, report.sectionFound);
    if (!report.sectionFound && required)
        a.problems.push_back(std::string(entry) + " has no [" + section + "] section");
    for (const IniValue& v : values) {
        DecodedValue d;
        d.key = v.key;
        d.stored = v.value;
        report.values.push_back(std::move(d));
    }
}

// Decodes every value under the module's key, then converts from the code page.
void DecodeSettings(Analysis& a, int codePage)
{
    unsigned char key[16] = {};
    const bool haveKey = a.modulePresent && SettingKeyFromMd5Text(a.moduleMd5, key);
    std::vector<std::pair<DecodedValue*, std::string>> plains;
    for (SettingsReport* r : {&a.assist, &a.message})
        for (DecodedValue& v : r->values) {
            if (v.stored.size() > kMaxStoredValueChars)
                a.problems.push_back(r->entry + ": the stored value of " + v.key + " is " +
                                     std::to_string(v.stored.size()) + " characters; the stub reads at most " +
                                     std::to_string(kMaxStoredValueChars));
            if (!haveKey) {
                v.value = v.stored;
                v.decoded = false;
                continue;
            }
            std::string plain;
            if (v.stored.empty()) {
                v.decoded = true;
                plains.emplace_back(&v, std::string());
            } else if (DecodeSettingBytes(v.stored.c_str(), key, plain)) {
                v.decoded = true;
                plains.emplace_back(&v, plain);
            } else {
                a.problems.push_back(r->entry + ": the value of " + v.key +
                                     " does not decode under the module's key");
            }
        }

    auto convertAll = [&](int cp) {
        for (auto& [v, plain] : plains) {
            std::string utf8;
            if (!CodePageToUtf8(plain, cp, utf8))
                return false;
        }
        for (auto& [v, plain] : plains)
            CodePageToUtf8(plain, cp, v->value);
        return true;
    };
    // A value that is not text in any candidate code page most likely was enciphered under
    // another module's key: say so per value rather than show noise.
    auto rejectUnconvertible = [&](const std::vector<int>& candidates) {
        for (auto& [v, plain] : plains) {
            bool ok = false;
            for (int cp : candidates)
                if (!ok && CodePageToUtf8(plain, cp, v->value))
                    ok = true;
            if (!ok) {
                v->decoded = false;
                v->value.clear();
                a.problems.push_back("the value of " + v->key +
                                     " does not decode to text (enciphered under another module's key?)");
            }
        }
    };
    bool ascii = true;
    for (auto& [v, plain] : plains)
        for (char c : plain)
            ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    // tessel-pack records the code page it wrote with; its digits read the same in any code page.
    int recorded = 0;
    for (auto& [v, plain] : plains)
        if (AsciiIEquals(v->key, kCodePageKey) && !ParseCodePage(plain, recorded))
            recorded = 0;
    if (codePage == 0 && recorded != 0) {
        codePage = recorded;
        a.codePageRecorded = true;
    }
    if (codePage != 0) {
        a.codePageUsed = std::to_string(codePage);
        if (!convertAll(codePage))
            rejectUnconvertible({codePage});
        return;
    }
    if (ascii) {
        a.codePageUsed = "ascii";
        convertAll(65001);
        return;
    }
    for (int cp : {65001, 1252, 932})
        if (convertAll(cp)) {
            a.codePageUsed = cp == 65001 ? "UTF-8" : std::to_string(cp);
            return;
        }
    a.codePageUsed = "mixed";
    rejectUnconvertible({65001, 1252, 932});
}

const DecodedValue* FindValue(const SettingsReport& r, const char* key)
{
    for (const DecodedValue& v : r.values)
        if (AsciiIEquals(v.key, key))
            return &v;
    return nullptr;
}

std::string Backslashed(std::string text)
{
    for (char& c : text)
        if (c == '/')
            c = '\\';
    return text;
}

void CheckCabinets(Analysis& a, const std::string& installerName, TempDir& temp)
{
    PackageFile& pkg = a.package;
    const std::string wanted = AsciiLower(Backslashed(installerName));
    int n = 0;
    for (const BodyInfo& b : pkg.bodies) {
        if (!IsCabinetEntryName(pkg.EntryOf(b).name))
            continue;
        CabinetReport report;
        report.present = true;
        report.entry = Utf16ToUtf8(pkg.GroupNameOf(b));
        std::string error;
        if (temp.Path().empty() && !temp.Create(error)) {
            report.error = error;
            a.problems.push_back("cabinet: " + error);
            a.cabinets.push_back(report);
            continue;
        }
        const fs::path cab = temp.Path() / ("cabinet" + std::to_string(n) + ".cab");
        const fs::path dir = temp.Path() / ("cabinet" + std::to_string(n));
        ++n;
        if (!pkg.CopyBodyToFile(b, true, cab, error) || !ListCabinet(cab, report.members, report.compression, error)) {
            report.error = error;
            a.problems.push_back("cabinet entry in group " + Quote(report.entry) + ": " + error);
            a.cabinets.push_back(report);
            continue;
        }
        std::vector<std::string> written;
        fs::create_directory(dir);
        if (!ExpandCabinet(cab, dir, written, error)) {
            report.error = error;
            a.problems.push_back("cabinet entry in group " + Quote(report.entry) + ": " + error);
            a.cabinets.push_back(report);
            continue;
        }
        report.valid = true;
        if (pkg.IsPrimary(b.group) && !a.installer.found && !wanted.empty())
            for (const std::string& rel : written)
                if (AsciiLower(Backslashed(rel)) == wanted) {
                    std::string md5;
                    if (Md5TextOfFile(dir / rel, md5, error)) {
                        a.installer.found = true;
                        a.installer.location = "cabinet";
                        a.installer.md5 = md5;
                    }
                }
        a.cabinets.push_back(std::move(report));
    }
}

}  // namespace

bool AnalyzePackage(const fs::path& path, int codePage, Analysis& a, std::string& error)
{
    if (!a.package.Open(path, error))
        return false;
    CheckStructure(a);
    PackageFile& pkg = a.package;
    if (pkg.status != IndexStatus::Ok || pkg.bodiesEnd > pkg.fileSize)
        return true;
    if (pkg.index.find(std::u16string(kPrimaryGroupName)) == pkg.index.end())
        return true;

    if (const BodyInfo* module = pkg.FindBody(std::u16string(kPrimaryGroupName), Utf8ToUtf16(kModuleFile8))) {
        std::string err;
        if (Md5OfBody(pkg, *module, a.moduleMd5, err)) {
            a.modulePresent = true;
            a.keyText = a.moduleMd5.substr(0, 16);
        } else {
            a.problems.push_back(err);
        }
    }
    ReadSettingsFile(a, a.assist, kAssistFile8, kAssistSection, true);
    ReadSettingsFile(a, a.message, kMessageFile8, kMessageSection, false);
    DecodeSettings(a, codePage);

    const DecodedValue* exe = FindValue(a.assist, "ExecuteFileName");
    const DecodedValue* enc = FindValue(a.assist, "enc_data");
    a.installer.name = exe && exe->decoded ? exe->value : std::string();
    a.installer.encData = enc && enc->decoded ? enc->value : std::string();

    // The installer as a plain entry of the primary group, or "Group\name" in another group.
    if (!a.installer.name.empty()) {
        const std::string wanted = Backslashed(a.installer.name);
        const BodyInfo* body = nullptr;
        if (wanted.find('\\') == std::string::npos) {
            body = pkg.FindBody(std::u16string(kPrimaryGroupName), Utf8ToUtf16(wanted));
            if (body && IsCabinetEntryName(pkg.EntryOf(*body).name))
                body = nullptr;
            a.installer.location = body ? "entry" : "";
        } else {
            const size_t slash = wanted.find('\\');
            if (wanted.find('\\', slash + 1) == std::string::npos) {
                body = pkg.FindBody(Utf8ToUtf16(wanted.substr(0, slash)), Utf8ToUtf16(wanted.substr(slash + 1)));
                a.installer.location = body ? "group" : "";
            }
        }
        if (body) {
            std::string err;
            if (Md5OfBody(pkg, *body, a.installer.md5, err))
                a.installer.found = true;
            else
                a.problems.push_back(err);
        }
    }

    TempDir temp;
    CheckCabinets(a, a.installer.found ? std::string() : a.installer.name, temp);

    if (a.modulePresent) {
        if (exe && !exe->decoded) {
            a.problems.push_back("ExecuteFileName does not decode, so the installer cannot be checked");
        } else if (a.installer.name.empty()) {
            a.problems.push_back("ExecuteFileName is empty or absent: the stub has no installer to start");
        } else if (!a.installer.found) {
            a.problems.push_back("the installer " + Quote(a.installer.name) +
                                 " named by ExecuteFileName is not in the package");
        } else {
            a.installer.matches = AsciiIEquals(a.installer.md5, a.installer.encData);
            if (!a.installer.matches)
                a.problems.push_back("enc_data " + Quote(a.installer.encData) + " does not match the installer " +
                                     Quote(a.installer.name) + " (MD5 " + a.installer.md5 + ")");
        }
    }
    return true;
}

}  // namespace tpack
