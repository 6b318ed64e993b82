// What `inspect` shows and `verify` judges: one pass over a package file.
#pragma once

#include "tools/tessel-pack/src/Cabinet.h"
#include "tools/tessel-pack/src/PackageFile.h"

namespace tpack {

struct DecodedValue {
    std::string key;
    std::string stored;
    std::string value;  // UTF-8 once converted from the code page
    bool decoded = false;
};

struct SettingsReport {
    std::string entry;
    std::string section;
    bool present = false;
    bool sectionFound = false;
    std::vector<DecodedValue> values;
};

struct CabinetReport {
    bool present = false;
    std::string entry;  // the group it sits in, UTF-8
    bool valid = false;
    std::string error;
    int compression = -1;
    std::vector<CabinetMember> members;
};

struct InstallerReport {
    std::string name;      // ExecuteFileName
    std::string location;  // "entry", "cabinet", "group" or empty when not found
    std::string md5;
    std::string encData;
    bool found = false;
    bool matches = false;
};

struct Analysis {
    PackageFile package;
    bool modulePresent = false;
    std::string moduleMd5;
    std::string keyText;
    std::string codePageUsed;  // "ascii", "UTF-8", "1252", "932", ...
    bool codePageRecorded = false;  // taken from the package's own TesselCodePage value
    SettingsReport assist;
    SettingsReport message;
    std::vector<CabinetReport> cabinets;
    InstallerReport installer;
    std::vector<std::string> problems;
};

// Reads and checks a package. False with `error` only when the file cannot be read at all.
bool AnalyzePackage(const fs::path& path, int codePage, Analysis& out, std::string& error);

}  // namespace tpack
