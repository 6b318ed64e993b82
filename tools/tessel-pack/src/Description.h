// The package description: the hand-written text file `tessel-pack build` reads.
//
//   [package]   stub, output, module, codepage
//   [assist]    AssistFile.ini values (section ParamOption), any key
//   [message]   MessageSetting.ini values (section Setting)
//   [cabinet]   folder = DIR (with compression = mszip|none) or file = READY.cab
//   [files]     extra plain files of the primary group: "path" or "EntryName = path"
//   [group N]   one additional group named N, lines as in [files]
//
// '#' or ';' starts a comment line; values may be wrapped in double quotes to keep
// leading/trailing blanks. Relative paths are relative to the description's folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tpack {

struct SettingSpec {
    std::string key;    // as the description spells it, or the canonical spelling for known keys
    std::string value;  // UTF-8
    int line = 0;
};

struct FileSpec {
    std::string entryName;  // UTF-8
    std::filesystem::path source;
    int line = 0;
};

struct GroupSpec {
    std::string name;  // UTF-8
    std::vector<FileSpec> files;
    int line = 0;
};

enum class CabinetKind { None, Folder, File };
enum class CabinetCompression { None, Mszip };

struct PackageDescription {
    std::filesystem::path descriptionPath;
    std::filesystem::path baseDir;

    std::optional<std::filesystem::path> stub;
    std::optional<std::filesystem::path> output;
    std::optional<std::filesystem::path> module;
    int codePage = 1252;

    bool hasAssist = false;
    bool hasMessage = false;
    std::vector<SettingSpec> assist;
    std::vector<SettingSpec> message;

    CabinetKind cabinetKind = CabinetKind::None;
    std::filesystem::path cabinetSource;
    CabinetCompression compression = CabinetCompression::Mszip;
    int cabinetLine = 0;

    std::vector<FileSpec> files;
    std::vector<GroupSpec> groups;

    // Notes that do not stop a build (unknown settings keys, flag values that read as off).
    std::vector<std::string> warnings;
};

// The known AssistFile.ini and MessageSetting.ini keys, in their canonical spelling.
const std::vector<std::string>& KnownAssistKeys();
const std::vector<std::string>& KnownMessageKeys();

// Parses the text of a description. `descriptionPath` names it in messages; `baseDir`
// anchors relative paths. On failure `error` reads "FILE:LINE: what is wrong".
bool ParseDescription(const std::string& text, const std::filesystem::path& descriptionPath,
                      const std::filesystem::path& baseDir, PackageDescription& out, std::string& error);

bool LoadDescription(const std::filesystem::path& path, PackageDescription& out, std::string& error);

// Looks up a setting by key, ignoring ASCII case; nullptr when absent.
const SettingSpec* FindSetting(const std::vector<SettingSpec>& settings, std::string_view key);

}  // namespace tpack
