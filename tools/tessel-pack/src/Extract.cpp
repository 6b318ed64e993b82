// `tessel-pack extract`: every entry to disk, the cabinet unscrambled (and optionally expanded).
#include "tools/tessel-pack/src/Cabinet.h"
#include "tools/tessel-pack/src/Commands.h"
#include "tools/tessel-pack/src/PackageFile.h"
#include "tools/tessel-pack/src/SafeWrite.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace tpack {

namespace {

bool CheckName(const std::u16string& name, const char* what, std::string& error)
{
    const std::string utf8 = Utf16ToUtf8(name);
    // Names become Linux paths here: a '/' would split them, and "."/".." would climb.
    if (!IsBareName(name) || utf8.find('/') != std::string::npos || utf8 == "." || utf8 == ".." || utf8.empty()) {
        error = std::string(what) + " " + Quote(utf8) + " is not a bare name; refusing to extract the package";
        return false;
    }
    return true;
}

}  // namespace

int RunExtract(const ExtractOptions& options)
{
    auto fail = [](const std::string& text) {
        std::fprintf(stderr, "tessel-pack extract: error: %s\n", text.c_str());
        return kExitBadInput;
    };
    PackageFile pkg;
    std::string error;
    if (!pkg.Open(options.package, error))
        return fail(error);
    if (pkg.status != IndexStatus::Ok)
        return fail(Quote(options.package) + ": " + IndexStatusText(pkg.status));
    if (pkg.bodiesEnd > pkg.fileSize)
        return fail(Quote(options.package) + " is truncated: its bodies end past the end of the file");
    // Check every name before writing anything.
    for (const auto& g : pkg.groups) {
        if (!CheckName(g.name, "group name", error))
            return fail(error);
        for (const PackageEntry& e : g.entries)
            if (!CheckName(e.name, "entry name", error))
                return fail(error);
    }

    SafeDestination dest;
    if (!dest.Open(options.dir, error))
        return fail(error);

    uint64_t total = 0;
    for (const BodyInfo& b : pkg.bodies)
        total += pkg.EntryOf(b).size;
    Progress progress("extracting", total, !options.quiet);
    size_t written = 0;
    size_t expanded = 0;
    for (const BodyInfo& b : pkg.bodies) {
        const PackageEntry& entry = pkg.EntryOf(b);
        const std::string name = Utf16ToUtf8(entry.name);
        std::vector<std::string> parts;
        if (!pkg.IsPrimary(b.group))
            parts.push_back(Utf16ToUtf8(pkg.GroupNameOf(b)));
        UniqueFd dir(dest.OpenSubfolder(parts, error));
        if (!dir.Valid())
            return fail(error);
        fs::path shown = dest.Path();
        for (const std::string& p : parts)
            shown /= p;
        shown /= name;
        UniqueFd out(SafeDestination::CreateFileIn(dir.Get(), name, shown.string(), error));
        if (!out.Valid())
            return fail(error);
        const bool cabinet = IsCabinetEntryName(entry.name);
        std::string writeError;
        const bool ok = pkg.ReadBody(b, [&](const unsigned char* p, size_t n) {
            std::vector<unsigned char> chunk(p, p + n);
            if (cabinet)
                ComplementBytes(chunk.data(), chunk.size());
            if (!WriteAll(out.Get(), chunk.data(), n)) {
                writeError = "cannot write " + Quote(shown) + ": " + std::strerror(errno);
                return false;
            }
            progress.Advance(n);
            return true;
        }, error);
        if (!ok)
            return fail(writeError.empty() ? error : writeError);
        if (::close(out.Release()) != 0)
            return fail("cannot write " + Quote(shown) + ": " + std::strerror(errno));
        ++written;

        if (cabinet && options.expandCabinet) {
            // Expand into a private folder first (gcab writes by path), then move each checked
            // name into place without following links.
            TempDir temp;
            if (!temp.Create(error, dest.Path()))
                return fail(error);
            std::vector<std::string> members;
            if (!ExpandCabinet(shown, temp.Path(), members, error))
                return fail(Quote(shown) + ": " + error);
            for (const std::string& rel : members) {
                std::vector<std::string> relParts;
                if (!SplitRelative(rel, relParts))
                    return fail("cabinet member " + Quote(rel) + " has an unsafe name");
                std::vector<std::string> dirParts = parts;
                dirParts.insert(dirParts.end(), relParts.begin(), relParts.end() - 1);
                if (!dest.MoveInto(temp.Path() / rel, dirParts, relParts.back(), error))
                    return fail(error);
                ++expanded;
            }
        }
    }
    progress.Finish();
    if (!options.quiet) {
        std::printf("extracted %zu entr%s to %s", written, written == 1 ? "y" : "ies", dest.Path().string().c_str());
        if (options.expandCabinet)
            std::printf(", expanded %zu file(s) from the cabinet", expanded);
        std::printf("\n");
    }
    return kExitOk;
}

}  // namespace tpack
