#include "tools/tessel-pack/src/PackageFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tpack {

namespace {

class FdByteSource : public ByteSource {
public:
    explicit FdByteSource(int fd) : m_fd(fd) {}
    size_t Read(void* buffer, size_t n) override
    {
        size_t total = 0;
        auto* p = static_cast<unsigned char*>(buffer);
        while (total < n) {
            const ssize_t got = ::pread(m_fd, p + total, n - total, static_cast<off_t>(m_pos));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            total += static_cast<size_t>(got);
            m_pos += static_cast<uint64_t>(got);
        }
        return total;
    }
    bool Seek(uint64_t offset) override
    {
        m_pos = offset;
        return true;
    }

private:
    int m_fd;
    uint64_t m_pos = 0;
};

uint32_t LoadU32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

const char* IndexStatusText(IndexStatus status)
{
    switch (status) {
    case IndexStatus::Ok:
        return "ok";
    case IndexStatus::NoPackage:
        return "no package (the offset slot at 0x20 is zero or points at the image's own header)";
    case IndexStatus::Damaged:
        return "damaged package index (a header runs past the end of the file)";
    case IndexStatus::BadName:
        return "a group or entry name in the index is not a bare file name";
    case IndexStatus::Truncated:
        return "truncated package (the entry bodies run past the end of the file)";
    }
    return "unknown";
}

void ReadImageHeaders(int fd, uint64_t fileSize, bool& hasMz, bool& hasPe, uint32_t& slot)
{
    hasMz = hasPe = false;
    slot = 0;
    unsigned char dos[0x40];
    if (fileSize < sizeof dos || !ReadAt(fd, 0, dos, sizeof dos))
        return;
    hasMz = dos[0] == 'M' && dos[1] == 'Z';
    slot = LoadU32(dos + kPackageOffsetSlot);
    const uint32_t lfanew = LoadU32(dos + 0x3C);
    unsigned char sig[4];
    if (hasMz && lfanew >= sizeof dos && uint64_t(lfanew) + 4 <= fileSize && ReadAt(fd, lfanew, sig, 4))
        hasPe = std::memcmp(sig, "PE\0\0", 4) == 0;
}

bool PackageFile::Open(const fs::path& p, std::string& error)
{
    path = p;
    fd.Reset(::open(p.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        error = "cannot open " + Quote(p) + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = Quote(p) + " is not a regular file";
        return false;
    }
    fileSize = static_cast<uint64_t>(st.st_size);
    ReadImageHeaders(fd.Get(), fileSize, hasMzHeader, hasPeHeader, packageOffset);

    FdByteSource source(fd.Get());
    index.clear();
    status = ParsePackageIndex(source, fileSize, index, dataStart, dataBytes);
    groups.clear();
    bodies.clear();
    bodiesEnd = dataStart;
    if (status != IndexStatus::Ok)
        return true;
    for (const auto& [name, entries] : index)
        groups.push_back(PackageGroupLayout{name, entries});
    uint64_t offset = dataStart;
    for (const auto& [g, e] : ExtractionOrder(groups)) {
        bodies.push_back(BodyInfo{g, e, offset});
        offset += groups[g].entries[e].size;
    }
    bodiesEnd = offset;
    return true;
}

bool PackageFile::IsPrimary(size_t group) const
{
    return groups[group].name == std::u16string(kPrimaryGroupName);
}

const BodyInfo* PackageFile::FindBody(const std::u16string& group, const std::u16string& entry) const
{
    for (const BodyInfo& b : bodies)
        if (groups[b.group].name == group && EqualsIgnoreAsciiCase(groups[b.group].entries[b.entry].name, entry))
            return &b;
    return nullptr;
}

bool PackageFile::ReadBody(const BodyInfo& body, const std::function<bool(const unsigned char*, size_t)>& sink,
                           std::string& error) const
{
    const uint64_t size = EntryOf(body).size;
    if (body.offset + size > fileSize) {
        error = "the body of " + Quote(Utf16ToUtf8(EntryOf(body).name)) + " runs past the end of the file";
        return false;
    }
    std::vector<unsigned char> buffer(std::max<size_t>(kBodyChunkSize, 1u << 20));
    uint64_t done = 0;
    while (done < size) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - done));
        if (!ReadAt(fd.Get(), body.offset + done, buffer.data(), n)) {
            error = "cannot read " + Quote(path) + ": " + std::strerror(errno ? errno : EIO);
            return false;
        }
        if (!sink(buffer.data(), n))
            return false;
        done += n;
    }
    return true;
}

bool PackageFile::ReadBodyToString(const BodyInfo& body, std::string& out, std::string& error,
                                   uint64_t maxBytes) const
{
    out.clear();
    if (EntryOf(body).size > maxBytes) {
        error = Quote(Utf16ToUtf8(EntryOf(body).name)) + " is implausibly large (" +
                GroupDigits(EntryOf(body).size) + " bytes)";
        return false;
    }
    return ReadBody(body, [&](const unsigned char* p, size_t n) {
        out.append(reinterpret_cast<const char*>(p), n);
        return true;
    }, error);
}

bool PackageFile::CopyBodyToFile(const BodyInfo& body, bool complement, const fs::path& target,
                                 std::string& error) const
{
    UniqueFd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!out.Valid()) {
        error = "cannot create " + Quote(target) + ": " + std::strerror(errno);
        return false;
    }
    std::string writeError;
    const bool ok = ReadBody(body, [&](const unsigned char* p, size_t n) {
        std::vector<unsigned char> chunk;
        const void* data = p;
        if (complement) {
            chunk.assign(p, p + n);
            ComplementBytes(chunk.data(), chunk.size());
            data = chunk.data();
        }
        if (!WriteAll(out.Get(), data, n)) {
            writeError = "cannot write " + Quote(target) + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }, error);
    if (!writeError.empty())
        error = writeError;
    if (ok && ::close(out.Release()) != 0) {
        error = "cannot write " + Quote(target) + ": " + std::strerror(errno);
        return false;
    }
    return ok;
}

}  // namespace tpack
