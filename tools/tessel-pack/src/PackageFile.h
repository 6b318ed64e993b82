// An existing package file opened for reading: its index, where each body lies, and
// streamed access to the bodies.
#pragma once

#include "package/portable/PackageFormat.h"
#include "tools/tessel-pack/src/Util.h"

#include <functional>

namespace tpack {

struct BodyInfo {
    size_t group = 0;  // index into PackageFile::groups
    size_t entry = 0;  // index into that group's entries
    uint64_t offset = 0;
};

class PackageFile {
public:
    // Opens the file and reads the index. False only when the file cannot be read at all;
    // a file without a package or with a damaged index opens with `status` telling so.
    bool Open(const fs::path& path, std::string& error);

    // Streams one body to `sink` in chunks; the sink returns false to stop.
    bool ReadBody(const BodyInfo& body, const std::function<bool(const unsigned char*, size_t)>& sink,
                  std::string& error) const;
    bool ReadBodyToString(const BodyInfo& body, std::string& out, std::string& error, uint64_t maxBytes) const;
    // Writes one body to a new file, complemented back when asked.
    bool CopyBodyToFile(const BodyInfo& body, bool complement, const fs::path& target, std::string& error) const;

    const PackageEntry& EntryOf(const BodyInfo& body) const { return groups[body.group].entries[body.entry]; }
    const std::u16string& GroupNameOf(const BodyInfo& body) const { return groups[body.group].name; }
    // Body of the named entry in the named group (ASCII case ignored for the entry); nullptr if absent.
    const BodyInfo* FindBody(const std::u16string& group, const std::u16string& entry) const;
    bool IsPrimary(size_t group) const;

    fs::path path;
    UniqueFd fd;
    uint64_t fileSize = 0;
    uint32_t packageOffset = 0;  // the slot at 0x20
    bool hasMzHeader = false;
    bool hasPeHeader = false;
    IndexStatus status = IndexStatus::NoPackage;
    PackageIndex index;
    uint64_t dataStart = 0;
    uint64_t dataBytes = 0;
    std::vector<PackageGroupLayout> groups;  // in index order (ordinal by name)
    std::vector<BodyInfo> bodies;            // in the order of the data region
    uint64_t bodiesEnd = 0;                  // file offset just after the last body
};

// Checks the DOS and PE signatures of an image held by fd; fills what it finds.
void ReadImageHeaders(int fd, uint64_t fileSize, bool& hasMz, bool& hasPe, uint32_t& slot);

const char* IndexStatusText(IndexStatus status);

}  // namespace tpack
