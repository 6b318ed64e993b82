// `tessel-pack build`: description + stub -> self-extracting package.
#include "tools/tessel-pack/src/Cabinet.h"
#include "tools/tessel-pack/src/CodePage.h"
#include "tools/tessel-pack/src/Commands.h"
#include "tools/tessel-pack/src/Description.h"
#include "tools/tessel-pack/src/PackageFile.h"
#include "tools/tessel-pack/src/SettingsFile.h"

#include "package/portable/PackageFormat.h"
#include "settings/portable/SettingCodec.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace tpack {

namespace {

constexpr uint64_t kMaxEntryBytes = 0xFFFFFFFFull;

struct BuildError {
    std::string text;
};

[[noreturn]] void Fail(const std::string& text)
{
    throw BuildError{text};
}

void Warn(const std::string& text)
{
    std::fprintf(stderr, "tessel-pack: warning: %s\n", text.c_str());
}

struct BodyPlan {
    std::string name;     // entry name, UTF-8
    fs::path source;      // empty for bodies held in memory
    std::string bytes;    // the body when held in memory
    bool complement = false;
    uint64_t size = 0;
};

struct GroupPlan {
    std::string name;
    std::vector<BodyPlan> entries;
};

uint64_t RegularFileSize(const fs::path& path, const std::string& what)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        Fail(what + " " + Quote(path) + " cannot be read: " + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        Fail(what + " " + Quote(path) + " is not a regular file");
    if (::access(path.c_str(), R_OK) != 0)
        Fail(what + " " + Quote(path) + " cannot be read: " + std::strerror(errno));
    return static_cast<uint64_t>(st.st_size);
}

void CheckEntrySize(const std::string& name, uint64_t size)
{
    if (size > kMaxEntryBytes)
        Fail("entry " + Quote(name) + " is " + GroupDigits(size) +
             " bytes; a package entry holds at most 4 GiB - 1 (4,294,967,295) bytes");
}

void CheckStub(const fs::path& stub)
{
    const uint64_t size = RegularFileSize(stub, "stub");
    UniqueFd fd(::open(stub.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid())
        Fail("stub " + Quote(stub) + " cannot be opened: " + std::strerror(errno));
    bool mz = false;
    bool pe = false;
    uint32_t slot = 0;
    ReadImageHeaders(fd.Get(), size, mz, pe, slot);
    if (!mz || !pe)
        Fail("stub " + Quote(stub) + " is not a Windows PE image (no MZ header with a PE signature)");
    if (slot != 0)
        Fail("stub " + Quote(stub) + " already carries a package (the offset slot at 0x20 holds " + HexOffset(slot) +
             "); start from the stub as linked");
    if (size > 0xFFFFFFFFull)
        Fail("stub " + Quote(stub) + " is too large: the package offset must fit in 32 bits");
}

std::string Md5OrFail(const fs::path& path)
{
    std::string text;
    std::string error;
    if (!Md5TextOfFile(path, text, error))
        Fail(error);
    return text;
}

bool IsHex32(const std::string& text)
{
    if (text.size() != 32)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

std::string Backslashed(std::string text)
{
    for (char& c : text)
        if (c == '/')
            c = '\\';
    return text;
}

const std::set<std::string> kFlagKeys = {"ExtractPathByUser", "UseHalvoCheck", "Elevation", "ShowResult",
                                         "IsShowMessageBox", "IsOk"};

void WarnAboutValues(const PackageDescription& d)
{
    auto check = [](const std::vector<SettingSpec>& list) {
        for (const SettingSpec& s : list) {
            if (kFlagKeys.count(s.key) && !s.value.empty() && s.value != "0" && s.value != "1")
                Warn("line " + std::to_string(s.line) + ": " + s.key + " = " + Quote(s.value) +
                     " reads as off; the stub turns a flag on only for exactly \"1\"");
            if (s.key == "SuccessCode") {
                bool ok = !s.value.empty();
                size_t start = 0;
                while (ok) {
                    const size_t semi = s.value.find(';', start);
                    std::string part = Trim(s.value.substr(start, semi == std::string::npos ? semi : semi - start));
                    if (!part.empty() && part[0] == '-')
                        part.erase(0, 1);
                    ok = !part.empty() && part.find_first_not_of("0123456789") == std::string::npos;
                    if (semi == std::string::npos)
                        break;
                    start = semi + 1;
                }
                if (!ok && !s.value.empty())
                    Warn("line " + std::to_string(s.line) + ": SuccessCode " + Quote(s.value) +
                         " is not a list of decimal exit codes separated by ';'");
            }
        }
    };
    check(d.assist);
    check(d.message);
    if (!d.groups.empty()) {
        const SettingSpec* e = FindSetting(d.assist, "ExtractPathByUser");
        if (!e || (e->value != "0" && e->value != "1"))
            Warn("the package has additional groups but ExtractPathByUser is neither \"0\" nor \"1\"; "
                 "the stub then puts those groups under the root of the current drive");
    }
}

// Encodes one settings value; refuses values the code page or the stub's buffer cannot hold.
IniValue EncodeValue(const SettingSpec& s, int codePage, const unsigned char key[16], const char* file)
{
    IniValue out;
    if (!Utf8ToCodePage(s.key, codePage, out.key))
        Fail("line " + std::to_string(s.line) + ": key " + Quote(s.key) + " cannot be written in code page " +
             std::to_string(codePage));
    if (s.value.empty())
        return out;
    std::string plain;
    if (!Utf8ToCodePage(s.value, codePage, plain)) {
        const std::string bad = FirstUnrepresentable(s.value, codePage);
        Fail("line " + std::to_string(s.line) + ": the value of " + s.key + " (" + file + ") contains " +
             (bad.empty() ? std::string("a character") : Quote(bad)) + ", which code page " +
             std::to_string(codePage) + " cannot represent");
    }
    out.value = EncodeSettingBytes(plain, key);
    if (out.value.size() > kMaxStoredValueChars)
        Fail("line " + std::to_string(s.line) + ": the value of " + s.key + " is too long: stored it takes " +
             std::to_string(out.value.size()) + " characters, and the stub reads at most " +
             std::to_string(kMaxStoredValueChars) + " (" + std::to_string(plain.size()) + " bytes of text given)");
    return out;
}

class Builder {
public:
    Builder(const BuildOptions& options) : m_options(options) {}
    int Run();

private:
    void LoadAll();
    void PlanCabinet();
    void PlanPrimaryFiles();
    void PlanGroups();
    std::string FindInstallerMd5(const std::string& executeFileName, bool& found);
    void PlanSettings();
    void CheckOutputIsNotAnInput();
    void Write();
    void AddInput(const fs::path& path) { m_inputs.push_back(path); }
    void ValidateEntryName(const std::string& name, const std::string& where, std::set<std::string>& seenLower);

    const BuildOptions& m_options;
    PackageDescription m_desc;
    fs::path m_stub;
    fs::path m_module;
    fs::path m_output;
    std::string m_moduleMd5;
    unsigned char m_key[16] = {};
    std::vector<fs::path> m_inputs;

    TempDir m_temp;
    std::vector<CabinetInput> m_cabinetFiles;  // folder cabinets: the members and their sources
    std::vector<CabinetMember> m_readyMembers;  // ready cabinets: the listing
    fs::path m_cabinetFile;                     // the cabinet as stored (before complementing)

    std::vector<BodyPlan> m_primaryFiles;
    std::vector<GroupPlan> m_groups;
    std::string m_assistIni;
    std::string m_messageIni;
};

void Builder::ValidateEntryName(const std::string& name, const std::string& where, std::set<std::string>& seenLower)
{
    if (!IsValidUtf8(name) || !IsBareName(Utf8ToUtf16(name)))
        Fail(where + ": " + Quote(name) + " is not a bare file name (no folders, no characters Windows forbids)");
    if (!seenLower.insert(AsciiLower(name)).second)
        Fail(where + ": entry name " + Quote(name) + " is used twice in the same group (names ignore case)");
}

void Builder::LoadAll()
{
    std::string error;
    if (!LoadDescription(m_options.description, m_desc, error))
        Fail(error);
    AddInput(m_options.description);
    for (const std::string& w : m_desc.warnings)
        Warn(w);

    if (m_options.stub)
        m_stub = *m_options.stub;
    else if (m_desc.stub)
        m_stub = *m_desc.stub;
    else
        Fail("no stub given: use --stub STUB or 'stub = PATH' in [package]");
    CheckStub(m_stub);
    AddInput(m_stub);

    if (m_options.module)
        m_module = *m_options.module;
    else if (m_desc.module)
        m_module = *m_desc.module;
    else
        m_module = m_stub.parent_path() / kModuleFile8;
    {
        struct stat st {};
        if (::stat(m_module.c_str(), &st) != 0)
            Fail("payload module " + Quote(m_module) + " not found" +
                 (m_options.module || m_desc.module ? std::string()
                                                     : std::string(" (looked beside the stub; set 'module = PATH' "
                                                                   "in [package] or use --module)")));
    }
    CheckEntrySize(kModuleFile8, RegularFileSize(m_module, "payload module"));
    AddInput(m_module);
    m_moduleMd5 = Md5OrFail(m_module);
    if (!SettingKeyFromMd5Text(m_moduleMd5, m_key))
        Fail("cannot derive the settings key from the module's checksum " + m_moduleMd5);

    if (m_options.output)
        m_output = *m_options.output;
    else if (m_desc.output)
        m_output = *m_desc.output;
    else
        m_output = fs::path(m_options.description.stem().string() + ".exe");
}

void Builder::PlanCabinet()
{
    std::string error;
    if (m_desc.cabinetKind == CabinetKind::None)
        return;
    if (m_desc.cabinetKind == CabinetKind::File) {
        const uint64_t size = RegularFileSize(m_desc.cabinetSource, "cabinet");
        int compression = 0;
        if (!ListCabinet(m_desc.cabinetSource, m_readyMembers, compression, error))
            Fail("cabinet " + Quote(m_desc.cabinetSource) + ": " + error);
        for (const CabinetMember& m : m_readyMembers) {
            std::string rel;
            if (!SafeMemberPath(m.name, rel))
                Fail("cabinet " + Quote(m_desc.cabinetSource) + " holds a member with an unsafe name: " + Quote(m.name));
        }
        CheckEntrySize(Utf16ToUtf8(std::u16string(kCabinetEntryName)), size);
        AddInput(m_desc.cabinetSource);
        m_cabinetFile = m_desc.cabinetSource;
        return;
    }
    std::vector<std::string> warnings;
    if (!CollectCabinetFolder(m_desc.cabinetSource, m_cabinetFiles, warnings, error))
        Fail(error);
    for (const std::string& w : warnings)
        Warn(w);
    for (const CabinetInput& in : m_cabinetFiles)
        AddInput(in.source);
    if (!m_temp.Create(error))
        Fail(error);
    m_cabinetFile = m_temp.Path() / "payload.cab";
    if (!WriteCabinet(m_cabinetFiles, m_desc.compression == CabinetCompression::Mszip, m_cabinetFile, error))
        Fail(error);
    CheckEntrySize(Utf16ToUtf8(std::u16string(kCabinetEntryName)), RegularFileSize(m_cabinetFile, "cabinet"));
}

void Builder::PlanPrimaryFiles()
{
    std::set<std::string> seen = {AsciiLower(kMessageFile8), AsciiLower(kAssistFile8),
                                  AsciiLower(kModuleFile8)};
    const std::string cabName = Utf16ToUtf8(std::u16string(kCabinetEntryName));
    for (const FileSpec& f : m_desc.files) {
        const std::string where = m_options.description.string() + ":" + std::to_string(f.line);
        for (const char* fixed : {kMessageFile8, kAssistFile8, kModuleFile8})
            if (AsciiIEquals(f.entryName, fixed))
                Fail(where + ": " + Quote(f.entryName) + " is made by tessel-pack itself and cannot be listed in [files]" +
                     (AsciiIEquals(f.entryName, kModuleFile8) ? std::string(" (use 'module =' in [package])")
                                                                 : std::string()));
        if (AsciiIEquals(f.entryName, cabName))
            Fail(where + ": " + Quote(f.entryName) + " is the cabinet entry's name; use the [cabinet] section");
        ValidateEntryName(f.entryName, where, seen);
        BodyPlan b;
        b.name = f.entryName;
        b.source = f.source;
        b.size = RegularFileSize(f.source, "file");
        CheckEntrySize(f.entryName, b.size);
        AddInput(f.source);
        m_primaryFiles.push_back(std::move(b));
    }
}

void Builder::PlanGroups()
{
    const std::string cabName = Utf16ToUtf8(std::u16string(kCabinetEntryName));
    for (const GroupSpec& g : m_desc.groups) {
        const std::string where = m_options.description.string() + ":" + std::to_string(g.line);
        if (!IsValidUtf8(g.name) || !IsBareName(Utf8ToUtf16(g.name)))
            Fail(where + ": group name " + Quote(g.name) + " is not a bare folder name");
        if (Utf8ToUtf16(g.name) == std::u16string(kPrimaryGroupName))
            Fail(where + ": " + Quote(g.name) + " is the primary group's name; list its files in [files]");
        GroupPlan plan;
        plan.name = g.name;
        std::set<std::string> seen;
        for (const FileSpec& f : g.files) {
            const std::string fwhere = m_options.description.string() + ":" + std::to_string(f.line);
            if (AsciiIEquals(f.entryName, cabName))
                Fail(fwhere + ": " + Quote(f.entryName) + " is the cabinet entry's name and cannot be a plain file");
            ValidateEntryName(f.entryName, fwhere, seen);
            BodyPlan b;
            b.name = f.entryName;
            b.source = f.source;
            b.size = RegularFileSize(f.source, "file");
            CheckEntrySize(f.entryName, b.size);
            AddInput(f.source);
            plan.entries.push_back(std::move(b));
        }
        m_groups.push_back(std::move(plan));
    }
}

std::string Builder::FindInstallerMd5(const std::string& executeFileName, bool& found)
{
    found = false;
    const std::string wanted = AsciiLower(Backslashed(executeFileName));
    for (const BodyPlan& b : m_primaryFiles)
        if (AsciiLower(b.name) == wanted) {
            found = true;
            return Md5OrFail(b.source);
        }
    for (const CabinetInput& in : m_cabinetFiles)
        if (AsciiLower(in.name) == wanted) {
            found = true;
            return Md5OrFail(in.source);
        }
    for (const CabinetMember& m : m_readyMembers)
        if (AsciiLower(Backslashed(m.name)) == wanted) {
            std::string error;
            TempDir expand;
            if (!expand.Create(error))
                Fail(error);
            std::vector<std::string> written;
            if (!ExpandCabinet(m_cabinetFile, expand.Path(), written, error))
                Fail("cabinet " + Quote(m_cabinetFile) + ": " + error);
            for (const std::string& rel : written)
                if (AsciiLower(Backslashed(rel)) == wanted) {
                    found = true;
                    return Md5OrFail(expand.Path() / rel);
                }
        }
    for (const GroupPlan& g : m_groups)
        for (const BodyPlan& b : g.entries)
            if (AsciiLower(g.name + "\\" + b.name) == wanted) {
                found = true;
                return Md5OrFail(b.source);
            }
    return {};
}

void Builder::PlanSettings()
{
    WarnAboutValues(m_desc);
    std::vector<SettingSpec> assist = m_desc.assist;
    const SettingSpec* exe = FindSetting(assist, "ExecuteFileName");
    const SettingSpec* enc = FindSetting(assist, "enc_data");
    const std::string exeName = exe ? exe->value : std::string();
    const bool computeEnc = !enc || AsciiIEquals(enc->value, "auto");

    if (exeName.empty()) {
        if (enc && !computeEnc && !enc->value.empty())
            Warn("enc_data is given but ExecuteFileName is not; the stub has no installer to check");
        else
            Warn("no ExecuteFileName: the stub will have no installer to start");
        if (enc && computeEnc)
            Fail("line " + std::to_string(enc->line) + ": enc_data = auto needs ExecuteFileName");
    } else {
        bool found = false;
        const std::string md5 = FindInstallerMd5(exeName, found);
        if (computeEnc) {
            if (!found)
                Fail("the installer " + Quote(exeName) +
                     " named by ExecuteFileName is not in the package (not in [files], the cabinet or a group); "
                     "add it, or give enc_data explicitly");
            if (enc) {
                for (SettingSpec& s : assist)
                    if (s.key == "enc_data")
                        s.value = md5;
            } else {
                assist.push_back(SettingSpec{"enc_data", md5, 0});
            }
        } else {
            if (enc->value.empty())
                Fail("line " + std::to_string(enc->line) +
                     ": enc_data is empty, so the stub would refuse to start " + Quote(exeName) +
                     "; leave enc_data out to have it computed");
            if (!IsHex32(enc->value))
                Fail("line " + std::to_string(enc->line) + ": enc_data " + Quote(enc->value) +
                     " is not an MD5 checksum (32 hexadecimal digits)");
            if (found && !AsciiIEquals(enc->value, md5))
                Fail("line " + std::to_string(enc->line) + ": enc_data " + enc->value + " does not match the installer " +
                     Quote(exeName) + " (MD5 " + md5 + "); leave enc_data out to have it computed");
            if (!found)
                Warn("the installer " + Quote(exeName) + " is not in the package; enc_data is taken as given");
        }
    }

    if (const SettingSpec* own = FindSetting(assist, kCodePageKey))
        Fail("line " + std::to_string(own->line) + ": " + kCodePageKey +
             " is written by tessel-pack itself; set the code page with 'codepage =' in [package]");
    assist.push_back(SettingSpec{kCodePageKey, std::to_string(m_desc.codePage), 0});

    std::vector<IniValue> assistValues;
    for (const SettingSpec& s : assist)
        assistValues.push_back(EncodeValue(s, m_desc.codePage, m_key, kAssistFile8));
    std::vector<IniValue> messageValues;
    for (const SettingSpec& s : m_desc.message)
        messageValues.push_back(EncodeValue(s, m_desc.codePage, m_key, kMessageFile8));
    m_assistIni = ComposeIni(kAssistSection, assistValues);
    m_messageIni = ComposeIni(kMessageSection, messageValues);
}

void Builder::CheckOutputIsNotAnInput()
{
    std::error_code ec;
    if (fs::is_directory(m_output, ec))
        Fail("output " + Quote(m_output) + " is a folder; name the package file to write");
    FileIdentity out;
    if (!GetFileIdentity(m_output, out))
        return;  // does not exist yet: cannot be an input
    for (const fs::path& in : m_inputs) {
        FileIdentity id;
        if (GetFileIdentity(in, id) && id == out)
            Fail("output " + Quote(m_output) + " is the same file as the input " + Quote(in) +
                 "; choose another output path");
    }
}

void Builder::Write()
{
    // The primary group: settings and module first, so the stub can decode its settings
    // before it reaches the cabinet or any other file.
    std::vector<BodyPlan> primary;
    {
        BodyPlan m;
        m.name = kMessageFile8;
        m.bytes = m_messageIni;
        m.size = m.bytes.size();
        primary.push_back(std::move(m));
        BodyPlan a;
        a.name = kAssistFile8;
        a.bytes = m_assistIni;
        a.size = a.bytes.size();
        primary.push_back(std::move(a));
        BodyPlan mod;
        mod.name = kModuleFile8;
        mod.source = m_module;
        mod.size = RegularFileSize(m_module, "payload module");
        primary.push_back(std::move(mod));
    }
    for (BodyPlan& b : m_primaryFiles)
        primary.push_back(std::move(b));
    if (!m_cabinetFile.empty()) {
        BodyPlan c;
        c.name = Utf16ToUtf8(std::u16string(kCabinetEntryName));
        c.source = m_cabinetFile;
        c.complement = true;
        c.size = RegularFileSize(m_cabinetFile, "cabinet");
        primary.push_back(std::move(c));
    }

    std::vector<std::vector<BodyPlan>*> plans;
    std::vector<PackageGroupLayout> layouts;
    layouts.push_back(PackageGroupLayout{std::u16string(kPrimaryGroupName), {}});
    plans.push_back(&primary);
    for (GroupPlan& g : m_groups) {
        layouts.push_back(PackageGroupLayout{Utf8ToUtf16(g.name), {}});
        plans.push_back(&g.entries);
    }
    uint64_t totalBodies = 0;
    for (size_t i = 0; i < layouts.size(); ++i)
        for (const BodyPlan& b : *plans[i]) {
            layouts[i].entries.push_back(PackageEntry{Utf8ToUtf16(b.name), static_cast<uint32_t>(b.size)});
            totalBodies += b.size;
        }
    const std::vector<uint8_t> headers = SerializePackageHeaders(layouts);
    const auto order = ExtractionOrder(layouts);

    // Write beside the output and rename at the end: a failed build leaves no half package.
    fs::path dir = m_output.parent_path();
    if (dir.empty())
        dir = ".";
    std::error_code ec;
    fs::create_directories(dir, ec);
    std::string tmpName = (dir / ("." + m_output.filename().string() + ".tessel-XXXXXX")).string();
    UniqueFd out(::mkstemp(tmpName.data()));
    if (!out.Valid())
        Fail("cannot create the output in " + Quote(dir) + ": " + std::strerror(errno));
    struct Cleanup {
        std::string path;
        bool keep = false;
        ~Cleanup()
        {
            if (!keep)
                ::unlink(path.c_str());
        }
    } cleanup{tmpName};

    auto writeOrFail = [&](const void* data, size_t n) {
        if (!WriteAll(out.Get(), data, n))
            Fail("cannot write " + Quote(m_output) + ": " + std::strerror(errno));
    };
    std::vector<unsigned char> buffer(std::max<size_t>(kBodyChunkSize, 1u << 20));
    auto copyFile = [&](const fs::path& source, uint64_t expected, bool complement, Progress* progress) {
        UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
        if (!in.Valid())
            Fail("cannot open " + Quote(source) + ": " + std::strerror(errno));
        uint64_t done = 0;
        for (;;) {
            const ssize_t got = ::read(in.Get(), buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                Fail("cannot read " + Quote(source) + ": " + std::strerror(errno));
            if (got == 0)
                break;
            done += static_cast<uint64_t>(got);
            if (done > expected)
                break;
            if (complement)
                ComplementBytes(buffer.data(), static_cast<size_t>(got));
            writeOrFail(buffer.data(), static_cast<size_t>(got));
            if (progress)
                progress->Advance(static_cast<uint64_t>(got));
        }
        if (done != expected)
            Fail(Quote(source) + " changed size while it was being packed");
    };

    struct stat stubStat {};
    if (::stat(m_stub.c_str(), &stubStat) != 0)
        Fail("stub " + Quote(m_stub) + " cannot be read: " + std::strerror(errno));
    const uint64_t stubSize = static_cast<uint64_t>(stubStat.st_size);
    copyFile(m_stub, stubSize, false, nullptr);
    writeOrFail(headers.data(), headers.size());
    {
        Progress progress("writing " + m_output.filename().string(), totalBodies, m_options.progress && !m_options.quiet);
        for (const auto& [g, e] : order) {
            const BodyPlan& b = (*plans[g])[e];
            if (b.source.empty())
                writeOrFail(b.bytes.data(), b.bytes.size());
            else
                copyFile(b.source, b.size, b.complement, &progress);
        }
        progress.Finish();
    }
    const uint32_t offset = static_cast<uint32_t>(stubSize);
    const unsigned char slot[4] = {static_cast<unsigned char>(offset), static_cast<unsigned char>(offset >> 8),
                                   static_cast<unsigned char>(offset >> 16), static_cast<unsigned char>(offset >> 24)};
    if (::pwrite(out.Get(), slot, 4, kPackageOffsetSlot) != 4)
        Fail("cannot write " + Quote(m_output) + ": " + std::strerror(errno));
    ::fchmod(out.Get(), (stubStat.st_mode & 0777) | 0644);
    if (::fsync(out.Get()) != 0 || ::close(out.Release()) != 0)
        Fail("cannot write " + Quote(m_output) + ": " + std::strerror(errno));
    if (::rename(tmpName.c_str(), m_output.c_str()) != 0)
        Fail("cannot write " + Quote(m_output) + ": " + std::strerror(errno));
    cleanup.keep = true;

    if (!m_options.quiet) {
        size_t entries = 0;
        for (const auto& l : layouts)
            entries += l.entries.size();
        const uint64_t total = stubSize + headers.size() + totalBodies;
        std::printf("wrote %s: %s bytes, package at %s, %zu entries in %zu group%s%s\n", m_output.string().c_str(),
                    GroupDigits(total).c_str(), HexOffset(offset).c_str(), entries, layouts.size(),
                    layouts.size() == 1 ? "" : "s",
                    m_cabinetFile.empty() ? ", no cabinet"
                                          : (", cabinet of " +
                                             std::to_string(m_cabinetFiles.empty() ? m_readyMembers.size()
                                                                                   : m_cabinetFiles.size()) +
                                             " file(s)")
                                                .c_str());
    }
}

int Builder::Run()
{
    LoadAll();
    PlanPrimaryFiles();
    PlanGroups();
    PlanCabinet();
    PlanSettings();
    CheckOutputIsNotAnInput();
    Write();
    return kExitOk;
}

}  // namespace

int RunBuild(const BuildOptions& options)
{
    try {
        Builder builder(options);
        return builder.Run();
    } catch (const BuildError& e) {
        std::fprintf(stderr, "tessel-pack build: error: %s\n", e.text.c_str());
        return kExitBadInput;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tessel-pack build: error: %s\n", e.what());
        return kExitBadInput;
    }
}

}  // namespace tpack
