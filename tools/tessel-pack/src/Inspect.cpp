// `tessel-pack inspect` and `tessel-pack verify`.
#include "tools/tessel-pack/src/Analysis.h"
#include "tools/tessel-pack/src/Commands.h"
#include "tools/tessel-pack/src/Json.h"

namespace tpack {

namespace {

const char* CompressionName(int c)
{
    switch (c) {
    case 0:
        return "none";
    case 1:
        return "mszip";
    case 2:
        return "quantum";
    case 3:
        return "lzx";
    case 99:
        return "mixed";
    default:
        return "unknown";
    }
}

void PrintText(const Analysis& a)
{
    const PackageFile& pkg = a.package;
    std::printf("File:           %s (%s bytes)\n", pkg.path.string().c_str(), GroupDigits(pkg.fileSize).c_str());
    if (pkg.status != IndexStatus::Ok) {
        std::printf("Package:        %s\n", IndexStatusText(pkg.status));
        for (const std::string& p : a.problems)
            std::printf("  %s\n", p.c_str());
        return;
    }
    std::printf("Package offset: %s (slot at 0x20)\n", HexOffset(pkg.packageOffset).c_str());
    std::printf("Data region:    %s to %s (%s bytes)\n", HexOffset(pkg.dataStart).c_str(),
                HexOffset(pkg.bodiesEnd).c_str(), GroupDigits(pkg.bodiesEnd - pkg.dataStart).c_str());
    if (pkg.bodiesEnd < pkg.fileSize)
        std::printf("After the data: %s bytes (a signature or padding; the stub never reads them)\n",
                    GroupDigits(pkg.fileSize - pkg.bodiesEnd).c_str());
    std::printf("Groups:         %zu, in extraction order:\n", pkg.groups.size());
    size_t lastGroup = static_cast<size_t>(-1);
    for (const BodyInfo& b : pkg.bodies) {
        if (b.group != lastGroup) {
            lastGroup = b.group;
            const auto& g = pkg.groups[b.group];
            std::printf("\n  Group %s%s, %zu entr%s\n", Quote(Utf16ToUtf8(g.name)).c_str(),
                        pkg.IsPrimary(b.group) ? " (primary)" : "", g.entries.size(),
                        g.entries.size() == 1 ? "y" : "ies");
            std::printf("    %-12s %15s  %s\n", "offset", "size", "name");
        }
        const PackageEntry& e = pkg.EntryOf(b);
        std::printf("    %-12s %15s  %s%s\n", HexOffset(b.offset).c_str(), GroupDigits(e.size).c_str(),
                    Utf16ToUtf8(e.name).c_str(), IsCabinetEntryName(e.name) ? "  (cabinet, stored complemented)" : "");
    }
    // Groups without entries have no bodies; name them too.
    for (size_t g = 0; g < pkg.groups.size(); ++g)
        if (pkg.groups[g].entries.empty())
            std::printf("\n  Group %s, no entries\n", Quote(Utf16ToUtf8(pkg.groups[g].name)).c_str());

    std::printf("\nModule:         %s\n",
                a.modulePresent ? ("MD5 " + a.moduleMd5 + ", settings key " + a.keyText).c_str()
                                : "absent (values are shown as stored)");
    std::printf("Code page:      %s%s\n", a.codePageUsed.empty() ? "-" : a.codePageUsed.c_str(),
                a.codePageRecorded ? " (recorded in the package)" : "");
    for (const SettingsReport* r : {&a.assist, &a.message}) {
        if (!r->present) {
            std::printf("\n  %s: absent\n", r->entry.c_str());
            continue;
        }
        std::printf("\n  %s [%s]\n", r->entry.c_str(), r->section.c_str());
        for (const DecodedValue& v : r->values)
            std::printf("    %-18s = %s%s\n", v.key.c_str(), v.decoded ? Quote(v.value).c_str() : v.stored.c_str(),
                        v.decoded ? "" : "  (not decoded)");
    }
    for (const CabinetReport& c : a.cabinets) {
        std::printf("\nCabinet in group %s: %s", Quote(c.entry).c_str(),
                    c.valid ? "valid" : ("invalid: " + c.error).c_str());
        if (c.compression >= 0)
            std::printf(", %zu file(s), compression %s", c.members.size(), CompressionName(c.compression));
        std::printf("\n");
        for (const CabinetMember& m : c.members)
            std::printf("    %15s  %s\n", GroupDigits(m.size).c_str(), m.name.c_str());
    }
    if (a.cabinets.empty())
        std::printf("\nCabinet:        none\n");
    const InstallerReport& i = a.installer;
    std::printf("\nInstaller:      %s\n", i.name.empty() ? "(no ExecuteFileName)" : Quote(i.name).c_str());
    if (!i.name.empty()) {
        std::printf("  found:        %s\n", i.found ? (i.location == "cabinet" ? "in the cabinet"
                                                       : i.location == "group" ? "in a group"
                                                                               : "as an entry of the primary group")
                                                    : "no");
        std::printf("  MD5:          %s\n", i.md5.empty() ? "-" : i.md5.c_str());
        std::printf("  enc_data:     %s\n", i.encData.empty() ? "-" : i.encData.c_str());
        std::printf("  matches:      %s\n", i.found ? (i.matches ? "yes" : "NO") : "-");
    }
    if (!a.problems.empty()) {
        std::printf("\nProblems:\n");
        for (const std::string& p : a.problems)
            std::printf("  %s\n", p.c_str());
    }
}

void PrintJson(const Analysis& a)
{
    const PackageFile& pkg = a.package;
    JsonWriter j;
    j.BeginObject();
    j.Key("file").String(pkg.path.string());
    j.Key("fileSize").Number(pkg.fileSize);
    j.Key("status").String(pkg.status == IndexStatus::Ok          ? "ok"
                           : pkg.status == IndexStatus::NoPackage ? "no-package"
                           : pkg.status == IndexStatus::Damaged   ? "damaged"
                           : pkg.status == IndexStatus::Truncated ? "truncated"
                                                                  : "bad-name");
    j.Key("packageOffset").Number(pkg.packageOffset);
    j.Key("dataStart").Number(pkg.dataStart);
    j.Key("dataEnd").Number(pkg.bodiesEnd);
    j.Key("groups").BeginArray();
    for (size_t g = 0; g < pkg.groups.size(); ++g) {
        j.BeginObject();
        j.Key("name").String(Utf16ToUtf8(pkg.groups[g].name));
        j.Key("primary").Bool(pkg.IsPrimary(g));
        j.Key("entries").BeginArray();
        for (size_t e = 0; e < pkg.groups[g].entries.size(); ++e) {
            const PackageEntry& entry = pkg.groups[g].entries[e];
            j.BeginObject();
            j.Key("name").String(Utf16ToUtf8(entry.name));
            j.Key("size").Number(entry.size);
            for (const BodyInfo& b : pkg.bodies)
                if (b.group == g && b.entry == e)
                    j.Key("offset").Number(b.offset);
            j.Key("cabinet").Bool(IsCabinetEntryName(entry.name));
            j.EndObject();
        }
        j.EndArray();
        j.EndObject();
    }
    j.EndArray();
    j.Key("module").BeginObject();
    j.Key("present").Bool(a.modulePresent);
    j.Key("md5").String(a.moduleMd5);
    j.Key("key").String(a.keyText);
    j.EndObject();
    j.Key("codePage").String(a.codePageUsed);
    j.Key("codePageRecorded").Bool(a.codePageRecorded);
    j.Key("settings").BeginObject();
    for (const SettingsReport* r : {&a.assist, &a.message}) {
        j.Key(r->entry).BeginObject();
        j.Key("present").Bool(r->present);
        j.Key("section").String(r->section);
        j.Key("values").BeginArray();
        for (const DecodedValue& v : r->values) {
            j.BeginObject();
            j.Key("key").String(v.key);
            j.Key("stored").String(v.stored);
            j.Key("decoded").Bool(v.decoded);
            j.Key("value");
            if (v.decoded)
                j.String(v.value);
            else
                j.Null();
            j.EndObject();
        }
        j.EndArray();
        j.EndObject();
    }
    j.EndObject();
    j.Key("cabinets").BeginArray();
    for (const CabinetReport& c : a.cabinets) {
        j.BeginObject();
        j.Key("group").String(c.entry);
        j.Key("valid").Bool(c.valid);
        j.Key("error").String(c.error);
        j.Key("compression").String(c.compression >= 0 ? CompressionName(c.compression) : "");
        j.Key("files").BeginArray();
        for (const CabinetMember& m : c.members) {
            j.BeginObject();
            j.Key("name").String(m.name);
            j.Key("size").Number(m.size);
            j.EndObject();
        }
        j.EndArray();
        j.EndObject();
    }
    j.EndArray();
    j.Key("installer").BeginObject();
    j.Key("name").String(a.installer.name);
    j.Key("found").Bool(a.installer.found);
    j.Key("location").String(a.installer.location);
    j.Key("md5").String(a.installer.md5);
    j.Key("encData").String(a.installer.encData);
    j.Key("matches").Bool(a.installer.matches);
    j.EndObject();
    j.Key("problems").BeginArray();
    for (const std::string& p : a.problems)
        j.String(p);
    j.EndArray();
    j.EndObject();
    std::printf("%s\n", j.Text().c_str());
}

}  // namespace

int RunInspect(const InspectOptions& options)
{
    Analysis a;
    std::string error;
    if (!AnalyzePackage(options.package, options.codePage, a, error)) {
        std::fprintf(stderr, "tessel-pack inspect: error: %s\n", error.c_str());
        return kExitBadInput;
    }
    if (options.json)
        PrintJson(a);
    else
        PrintText(a);
    if (a.package.status == IndexStatus::NoPackage) {
        if (!options.json)
            std::fprintf(stderr, "tessel-pack inspect: error: %s carries no package\n",
                         Quote(options.package).c_str());
        return kExitBadInput;
    }
    return kExitOk;
}

int RunVerify(const InspectOptions& options)
{
    Analysis a;
    std::string error;
    if (!AnalyzePackage(options.package, options.codePage, a, error)) {
        std::fprintf(stderr, "tessel-pack verify: error: %s\n", error.c_str());
        return kExitBadInput;
    }
    if (options.json) {
        PrintJson(a);
        return a.problems.empty() ? kExitOk : kExitProblems;
    }
    if (a.problems.empty()) {
        size_t entries = 0;
        for (const auto& g : a.package.groups)
            entries += g.entries.size();
        std::printf("%s: OK (%zu entries in %zu group%s)\n", options.package.string().c_str(), entries,
                    a.package.groups.size(), a.package.groups.size() == 1 ? "" : "s");
        return kExitOk;
    }
    for (const std::string& p : a.problems)
        std::printf("%s: %s\n", options.package.string().c_str(), p.c_str());
    return kExitProblems;
}

}  // namespace tpack
