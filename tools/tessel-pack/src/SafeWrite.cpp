#include "tools/tessel-pack/src/SafeWrite.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tpack {

bool SplitRelative(const std::string& relative, std::vector<std::string>& parts)
{
    parts.clear();
    size_t start = 0;
    for (;;) {
        const size_t slash = relative.find('/', start);
        std::string part = relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        parts.push_back(std::move(part));
        if (slash == std::string::npos)
            return true;
        start = slash + 1;
    }
}

bool SafeDestination::Open(const fs::path& dir, std::string& error)
{
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec && !fs::is_directory(dir)) {
        error = "cannot create " + Quote(dir) + ": " + ec.message();
        return false;
    }
    m_fd.Reset(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_fd.Valid()) {
        error = "cannot open " + Quote(dir) + ": " + std::strerror(errno);
        return false;
    }
    m_dir = dir;
    return true;
}

int SafeDestination::OpenSubfolder(const std::vector<std::string>& parts, std::string& error)
{
    UniqueFd current(::dup(m_fd.Get()));
    fs::path shown = m_dir;
    for (const std::string& part : parts) {
        shown /= part;
        if (::mkdirat(current.Get(), part.c_str(), 0755) != 0 && errno != EEXIST) {
            error = "cannot create " + Quote(shown) + ": " + std::strerror(errno);
            return -1;
        }
        const int next = ::openat(current.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            error = (errno == ELOOP || errno == ENOTDIR)
                        ? Quote(shown) + " exists and is not a folder (or is a symbolic link); refusing to write through it"
                        : "cannot open " + Quote(shown) + ": " + std::strerror(errno);
            return -1;
        }
        current.Reset(next);
    }
    return current.Release();
}

int SafeDestination::CreateFileIn(int dirFd, const std::string& name, const std::string& shownPath, std::string& error)
{
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode)) {
            error = Quote(shownPath) + " is a symbolic link; refusing to write through it";
            return -1;
        }
        if (!S_ISREG(st.st_mode)) {
            error = Quote(shownPath) + " exists and is not a regular file";
            return -1;
        }
        // Replace rather than truncate, so a hard link elsewhere keeps its content.
        if (::unlinkat(dirFd, name.c_str(), 0) != 0) {
            error = "cannot replace " + Quote(shownPath) + ": " + std::strerror(errno);
            return -1;
        }
    }
    const int fd = ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        error = "cannot create " + Quote(shownPath) + ": " + std::strerror(errno);
    return fd;
}

bool SafeDestination::MoveInto(const fs::path& source, const std::vector<std::string>& parts, const std::string& name,
                               std::string& error)
{
    UniqueFd dir(OpenSubfolder(parts, error));
    if (!dir.Valid())
        return false;
    fs::path shown = m_dir;
    for (const std::string& p : parts)
        shown /= p;
    shown /= name;
    struct stat st {};
    if (::fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode)) {
            error = Quote(shown) + " is a symbolic link; refusing to write through it";
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            error = Quote(shown) + " exists and is not a regular file";
            return false;
        }
    }
    // rename() replaces the name itself and never follows a link at the target.
    if (::renameat(AT_FDCWD, source.c_str(), dir.Get(), name.c_str()) != 0) {
        error = "cannot write " + Quote(shown) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace tpack
