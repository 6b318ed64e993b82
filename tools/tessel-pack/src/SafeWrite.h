// Writing files strictly inside a destination folder: no path component may be a symbolic
// link, and names are checked before anything is created.
#pragma once

#include "tools/tessel-pack/src/Util.h"

#include <string>
#include <vector>

namespace tpack {

class SafeDestination {
public:
    // Creates the folder (and its parents) when needed and opens it.
    bool Open(const fs::path& dir, std::string& error);

    // Opens (creating as needed) the folder `relativeDir` ('/'-separated, may be empty)
    // beneath the destination without following links. Returns a descriptor or -1.
    int OpenSubfolder(const std::vector<std::string>& parts, std::string& error);

    // Creates `name` in the folder `dirFd` for writing, refusing a link or folder already
    // there (an existing regular file is replaced). Returns a descriptor or -1.
    static int CreateFileIn(int dirFd, const std::string& name, const std::string& shownPath, std::string& error);

    // Moves a file into place under `parts` + name; same refusals as CreateFileIn.
    bool MoveInto(const fs::path& source, const std::vector<std::string>& parts, const std::string& name,
                  std::string& error);

    const fs::path& Path() const { return m_dir; }
    int Fd() const { return m_fd.Get(); }

private:
    fs::path m_dir;
    UniqueFd m_fd;
};

// Splits "a/b/c" into parts; false when any part is empty, "." or "..".
bool SplitRelative(const std::string& relative, std::vector<std::string>& parts);

}  // namespace tpack
