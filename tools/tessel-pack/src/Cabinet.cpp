#include "tools/tessel-pack/src/Cabinet.h"

#include "package/portable/PackageFormat.h"
#include "tools/tessel-pack/src/Util.h"

#include <algorithm>
#include <libgcab.h>
#include <set>

namespace tpack {

namespace {

template <typename T>
struct GObjectPtr {
    T* p = nullptr;
    GObjectPtr() = default;
    explicit GObjectPtr(T* q) : p(q) {}
    GObjectPtr(const GObjectPtr&) = delete;
    GObjectPtr& operator=(const GObjectPtr&) = delete;
    ~GObjectPtr()
    {
        if (p)
            g_object_unref(p);
    }
    T* get() const { return p; }
};

struct GErrorHolder {
    GError* e = nullptr;
    ~GErrorHolder()
    {
        if (e)
            g_error_free(e);
    }
    std::string Text() const { return e && e->message ? e->message : "unknown error"; }
};

// The most a CAB folder can hold uncompressed (the format's limit on one folder's data).
constexpr uint64_t kMaxFolderBytes = 0x7FFF8000ull;

bool IsWindowsName(const std::string& component)
{
    return IsBareName(Utf8ToUtf16(component));
}

}  // namespace

bool SafeMemberPath(const std::string& memberName, std::string& relative)
{
    if (memberName.empty() || !IsValidUtf8(memberName))
        return false;
    relative.clear();
    size_t start = 0;
    for (;;) {
        const size_t sep = memberName.find_first_of("\\/", start);
        const std::string part = memberName.substr(start, sep == std::string::npos ? std::string::npos : sep - start);
        // Empty parts cover leading separators (absolute and UNC paths) and doubled ones;
        // IsBareName refuses ":" (drive letters, streams), "." and "..".
        if (part.empty() || part == "." || part == ".." || !IsWindowsName(part))
            return false;
        if (!relative.empty())
            relative += '/';
        relative += part;
        if (sep == std::string::npos)
            break;
        start = sep + 1;
    }
    return true;
}

bool CollectCabinetFolder(const std::filesystem::path& folder, std::vector<CabinetInput>& files,
                          std::vector<std::string>& warnings, std::string& error)
{
    files.clear();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        error = "cabinet folder " + Quote(folder) + " does not exist or is not a folder";
        return false;
    }
    fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec);
    if (ec) {
        error = "cannot read cabinet folder " + Quote(folder) + ": " + ec.message();
        return false;
    }
    std::vector<fs::path> emptyDirs;
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) {
            error = "cannot read cabinet folder " + Quote(folder) + ": " + ec.message();
            return false;
        }
        const fs::path& p = it->path();
        const fs::path rel = fs::relative(p, folder, ec);
        std::string name;
        for (const auto& part : rel) {
            if (!name.empty())
                name += '\\';
            name += part.string();
        }
        const fs::file_status linkStatus = it->symlink_status(ec);
        const fs::file_status status = it->status(ec);
        if (fs::is_directory(status)) {
            if (fs::is_symlink(linkStatus)) {
                error = Quote(p) + " in the cabinet folder is a link to a folder; links to folders are not followed";
                return false;
            }
            if (fs::is_empty(p, ec))
                emptyDirs.push_back(rel);
            continue;
        }
        if (!fs::is_regular_file(status)) {
            error = Quote(p) + " in the cabinet folder is not a regular file";
            return false;
        }
        std::string check;
        if (!SafeMemberPath(name, check)) {
            error = "cabinet member " + Quote(name) + " is not a valid Windows file name";
            return false;
        }
        const uint64_t size = fs::file_size(p, ec);
        if (ec) {
            error = "cannot read " + Quote(p) + ": " + ec.message();
            return false;
        }
        if (size > 0xFFFFFFFFull) {
            error = Quote(p) + " is larger than a cabinet member can be (4 GiB - 1 bytes)";
            return false;
        }
        files.push_back(CabinetInput{name, p, size});
    }
    for (const fs::path& d : emptyDirs)
        warnings.push_back("empty folder " + Quote(d) + " is not kept: a cabinet holds only files");
    if (files.empty()) {
        error = "cabinet folder " + Quote(folder) + " holds no files";
        return false;
    }
    // A stable order makes the same folder give the same cabinet.
    std::sort(files.begin(), files.end(), [](const CabinetInput& a, const CabinetInput& b) { return a.name < b.name; });
    // Windows expands into a case-insensitive file system: two names that differ only in case collide.
    std::set<std::string> lowered;
    for (const CabinetInput& f : files)
        if (!lowered.insert(AsciiLower(f.name)).second) {
            error = "cabinet folder holds two files whose names differ only in case: " + Quote(f.name);
            return false;
        }
    return true;
}

bool WriteCabinet(const std::vector<CabinetInput>& files, bool mszip, const std::filesystem::path& outCab,
                  std::string& error)
{
    GObjectPtr<GCabCabinet> cabinet(gcab_cabinet_new());
    const gint comp = mszip ? GCAB_COMPRESSION_MSZIP : GCAB_COMPRESSION_NONE;
    GObjectPtr<GCabFolder> folder;
    uint64_t folderBytes = 0;
    auto flush = [&]() -> bool {
        if (!folder.get())
            return true;
        GErrorHolder err;
        const bool ok = gcab_cabinet_add_folder(cabinet.get(), folder.get(), &err.e);
        g_object_unref(folder.p);
        folder.p = nullptr;
        if (!ok)
            error = "cannot build the cabinet: " + err.Text();
        return ok;
    };
    for (const CabinetInput& in : files) {
        if (folder.get() && folderBytes + in.size > kMaxFolderBytes) {
            if (!flush())
                return false;
        }
        if (!folder.get()) {
            folder.p = gcab_folder_new(comp);
            folderBytes = 0;
        }
        GObjectPtr<GFile> gfile(g_file_new_for_path(in.source.c_str()));
        GObjectPtr<GCabFile> cabFile(gcab_file_new_with_file(in.name.c_str(), gfile.get()));
        GErrorHolder err;
        if (!gcab_folder_add_file(folder.get(), cabFile.get(), FALSE, nullptr, &err.e)) {
            error = "cannot add " + Quote(in.source) + " to the cabinet: " + err.Text();
            return false;
        }
        folderBytes += in.size;
    }
    if (!flush())
        return false;

    GObjectPtr<GFile> out(g_file_new_for_path(outCab.c_str()));
    GErrorHolder err;
    GObjectPtr<GFileOutputStream> stream(
        g_file_replace(out.get(), nullptr, FALSE, G_FILE_CREATE_PRIVATE, nullptr, &err.e));
    if (!stream.get()) {
        error = "cannot create " + Quote(outCab) + ": " + err.Text();
        return false;
    }
    if (!gcab_cabinet_write_simple(cabinet.get(), G_OUTPUT_STREAM(stream.get()), nullptr, nullptr, nullptr, &err.e)) {
        error = "cannot write the cabinet: " + err.Text();
        return false;
    }
    if (!g_output_stream_close(G_OUTPUT_STREAM(stream.get()), nullptr, &err.e)) {
        error = "cannot write the cabinet: " + err.Text();
        return false;
    }
    return true;
}

namespace {

bool LoadCabinet(const std::filesystem::path& cab, GObjectPtr<GCabCabinet>& cabinet, std::string& error)
{
    GObjectPtr<GFile> file(g_file_new_for_path(cab.c_str()));
    GErrorHolder err;
    GObjectPtr<GFileInputStream> in(g_file_read(file.get(), nullptr, &err.e));
    if (!in.get()) {
        error = "cannot open " + Quote(cab) + ": " + err.Text();
        return false;
    }
    cabinet.p = gcab_cabinet_new();
    if (!gcab_cabinet_load(cabinet.get(), G_INPUT_STREAM(in.get()), nullptr, &err.e)) {
        error = "not a valid cabinet: " + err.Text();
        return false;
    }
    return true;
}

}  // namespace

bool ListCabinet(const std::filesystem::path& cab, std::vector<CabinetMember>& members, int& compression,
                 std::string& error)
{
    members.clear();
    compression = -1;
    GObjectPtr<GCabCabinet> cabinet;
    if (!LoadCabinet(cab, cabinet, error))
        return false;
    GPtrArray* folders = gcab_cabinet_get_folders(cabinet.get());
    for (guint i = 0; folders && i < folders->len; ++i) {
        auto* folder = static_cast<GCabFolder*>(g_ptr_array_index(folders, i));
        const int comp = gcab_folder_get_comptype(folder) & GCAB_COMPRESSION_MASK;
        compression = compression < 0 || compression == comp ? comp : 99;
        GSList* list = gcab_folder_get_files(folder);
        for (GSList* l = list; l; l = l->next) {
            auto* f = static_cast<GCabFile*>(l->data);
            const char* name = gcab_file_get_name(f);
            members.push_back(CabinetMember{name ? name : "", gcab_file_get_size(f)});
        }
        g_slist_free(list);
    }
    return true;
}

namespace {

struct ExpandState {
    std::vector<std::string>* written;
    std::string badName;
};

gboolean OnExpandFile(GCabFile* file, gpointer userData)
{
    auto* state = static_cast<ExpandState*>(userData);
    const char* name = gcab_file_get_name(file);
    std::string relative;
    if (!name || !SafeMemberPath(name, relative)) {
        if (state->badName.empty())
            state->badName = name ? name : "";
        return FALSE;  // skip it; the caller reports the refusal
    }
    gcab_file_set_extract_name(file, relative.c_str());
    state->written->push_back(relative);
    return TRUE;
}

}  // namespace

bool ExpandCabinet(const std::filesystem::path& cab, const std::filesystem::path& destDir,
                   std::vector<std::string>& written, std::string& error)
{
    written.clear();
    GObjectPtr<GCabCabinet> cabinet;
    if (!LoadCabinet(cab, cabinet, error))
        return false;
    ExpandState state{&written, {}};
    GObjectPtr<GFile> dest(g_file_new_for_path(destDir.c_str()));
    GErrorHolder err;
    const bool ok = gcab_cabinet_extract(cabinet.get(), dest.get(), OnExpandFile, nullptr, &state, nullptr, &err.e);
    if (!state.badName.empty()) {
        error = "cabinet member " + Quote(state.badName) + " has an unsafe name (absolute, drive letter or '..')";
        return false;
    }
    if (!ok) {
        error = "cannot expand the cabinet: " + err.Text();
        return false;
    }
    return true;
}

}  // namespace tpack
