// Microsoft cabinets through libgcab: built from a folder, listed, expanded safely.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tpack {

struct CabinetMember {
    std::string name;  // as stored, '\' between folders (UTF-8)
    uint32_t size = 0;
};

// A folder's files, sorted, with cabinet names ("sub\name"). Fails on special files,
// links to folders, names Windows cannot hold, or an empty folder.
struct CabinetInput {
    std::string name;
    std::filesystem::path source;
    uint64_t size = 0;
};
bool CollectCabinetFolder(const std::filesystem::path& folder, std::vector<CabinetInput>& files,
                          std::vector<std::string>& warnings, std::string& error);

// Writes a cabinet holding `files`; mszip or stored.
bool WriteCabinet(const std::vector<CabinetInput>& files, bool mszip, const std::filesystem::path& outCab,
                  std::string& error);

// Reads the cabinet's directory (no data is decompressed).
bool ListCabinet(const std::filesystem::path& cab, std::vector<CabinetMember>& members, int& compression,
                 std::string& error);

// Maps a stored member name to a relative path with '/' separators, refusing anything that
// could leave the destination: "..", ".", empty parts, absolute paths, drive letters and
// names Windows cannot hold.
bool SafeMemberPath(const std::string& memberName, std::string& relative);

// Expands every member into `destDir` (which should be a fresh, private folder); decompresses
// and so checks every data block. `members` receives the relative paths written.
bool ExpandCabinet(const std::filesystem::path& cab, const std::filesystem::path& destDir,
                   std::vector<std::string>& written, std::string& error);

}  // namespace tpack
