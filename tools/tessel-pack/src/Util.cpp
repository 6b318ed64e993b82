#include "tools/tessel-pack/src/Util.h"

#include "settings/portable/Md5.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tpack {

std::string Trim(std::string_view text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t' || text[begin] == '\r' || text[begin] == '\n'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r' || text[end - 1] == '\n'))
        --end;
    return std::string(text.substr(begin, end - begin));
}

std::string AsciiLower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool AsciiIEquals(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

bool IsValidUtf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size())
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
            (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        i += extra + 1;
    }
    return true;
}

std::string GroupDigits(uint64_t value)
{
    std::string digits = std::to_string(value);
    std::string out;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; ++i) {
        out += digits[i];
        if ((n - i - 1) % 3 == 0 && i + 1 < n)
            out += ',';
    }
    return out;
}

std::string HexOffset(uint64_t value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%08llX", static_cast<unsigned long long>(value));
    return buffer;
}

std::string Quote(const fs::path& path)
{
    return Quote(std::string_view(path.string()));
}

std::string Quote(std::string_view text)
{
    return "'" + std::string(text) + "'";
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other)
        Reset(other.Release());
    return *this;
}

UniqueFd::~UniqueFd()
{
    Reset();
}

int UniqueFd::Release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void UniqueFd::Reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

TempDir::~TempDir()
{
    if (!m_path.empty()) {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
}

bool TempDir::Create(std::string& error, const fs::path& parent)
{
    fs::path base = parent;
    if (base.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        base = (tmp && *tmp) ? fs::path(tmp) : fs::path("/tmp");
    }
    std::string pattern = (base / ".tessel-pack-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        error = "cannot create a temporary folder in " + Quote(base) + ": " + std::strerror(errno);
        return false;
    }
    m_path = pattern;
    return true;
}

bool ReadAt(int fd, uint64_t offset, void* buffer, size_t n)
{
    auto* p = static_cast<unsigned char*>(buffer);
    while (n > 0) {
        const ssize_t got = ::pread(fd, p, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        p += got;
        n -= static_cast<size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

bool WriteAll(int fd, const void* data, size_t n)
{
    const auto* p = static_cast<const unsigned char*>(data);
    while (n > 0) {
        const ssize_t put = ::write(fd, p, n);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        p += put;
        n -= static_cast<size_t>(put);
    }
    return true;
}

bool GetFileIdentity(const fs::path& path, FileIdentity& id)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.inode = static_cast<uint64_t>(st.st_ino);
    return true;
}

bool ReadSmallFile(const fs::path& path, std::string& content, std::string& error, uint64_t maxBytes)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        error = "cannot open " + Quote(path) + ": " + std::strerror(errno);
        return false;
    }
    content.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = "cannot read " + Quote(path) + ": " + std::strerror(errno);
            return false;
        }
        if (got == 0)
            break;
        content.append(buffer, static_cast<size_t>(got));
        if (content.size() > maxBytes) {
            error = Quote(path) + " is larger than " + GroupDigits(maxBytes) + " bytes";
            return false;
        }
    }
    return true;
}

static std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += static_cast<char>(c);
    return out;
}

bool Md5TextOfFile(const fs::path& path, std::string& md5Text, std::string& error)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        error = "cannot open " + Quote(path) + ": " + std::strerror(errno);
        return false;
    }
    CMD5Checksum md5;
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = "cannot read " + Quote(path) + ": " + std::strerror(errno);
            return false;
        }
        if (got == 0)
            break;
        md5.AddData(buffer.data(), static_cast<uint32_t>(got));
    }
    md5Text = Narrow(md5.Finish());
    return true;
}

Progress::Progress(std::string label, uint64_t total, bool allowed)
    : m_label(std::move(label)), m_total(total)
{
    // Small jobs finish before a display would help; pipes and logs get no carriage returns.
    m_active = allowed && total >= (8u << 20) && ::isatty(STDERR_FILENO);
}

Progress::~Progress()
{
    Finish();
}

void Progress::Advance(uint64_t bytes)
{
    if (!m_active)
        return;
    m_done += bytes;
    Draw();
}

void Progress::Draw()
{
    const int percent = m_total ? static_cast<int>(m_done * 100 / m_total) : 100;
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    std::fprintf(stderr, "\r%s: %3d%% (%llu of %llu MiB)", m_label.c_str(), percent,
                 static_cast<unsigned long long>(m_done >> 20), static_cast<unsigned long long>(m_total >> 20));
    std::fflush(stderr);
}

void Progress::Finish()
{
    if (!m_active)
        return;
    m_done = m_total;
    Draw();
    std::fputc('\n', stderr);
    m_active = false;
}

}  // namespace tpack
