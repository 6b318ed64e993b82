// Small helpers shared by the tessel-pack commands: text, files, temporary folders.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tpack {

namespace fs = std::filesystem;

std::string Trim(std::string_view text);
std::string AsciiLower(std::string_view text);
bool AsciiIEquals(std::string_view a, std::string_view b);
bool IsValidUtf8(std::string_view text);
// "1,234,567"
std::string GroupDigits(uint64_t value);
// "0x0001F2A0" style, at least eight digits.
std::string HexOffset(uint64_t value);
// A path as the user should read it in a message: quoted, as given.
std::string Quote(const fs::path& path);
std::string Quote(std::string_view text);
inline std::string Quote(const std::string& text) { return Quote(std::string_view(text)); }
inline std::string Quote(const char* text) { return Quote(std::string_view(text)); }

// Owns a file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    ~UniqueFd();
    int Get() const { return m_fd; }
    int Release();
    bool Valid() const { return m_fd >= 0; }
    void Reset(int fd = -1);

private:
    int m_fd = -1;
};

// A private folder under $TMPDIR, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir() = default;
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    // parent empty: the system's temporary folder.
    bool Create(std::string& error, const fs::path& parent = {});
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

// Reads exactly n bytes at offset; false on a short read or an error.
bool ReadAt(int fd, uint64_t offset, void* buffer, size_t n);
bool WriteAll(int fd, const void* data, size_t n);

// Device and inode of an existing file; false when it cannot be stat'ed.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
bool GetFileIdentity(const fs::path& path, FileIdentity& id);

// Reads a whole (small) file; fails past maxBytes.
bool ReadSmallFile(const fs::path& path, std::string& content, std::string& error,
                   uint64_t maxBytes = 16u << 20);

// Upper-case MD5 text of a whole file, streamed.
bool Md5TextOfFile(const fs::path& path, std::string& md5Text, std::string& error);

// Progress on stderr, shown only when stderr is a terminal and the job is large.
class Progress {
public:
    Progress(std::string label, uint64_t total, bool allowed);
    ~Progress();
    void Advance(uint64_t bytes);
    void Finish();

private:
    void Draw();
    std::string m_label;
    uint64_t m_total = 0;
    uint64_t m_done = 0;
    int m_lastPercent = -1;
    bool m_active = false;
};

}  // namespace tpack
