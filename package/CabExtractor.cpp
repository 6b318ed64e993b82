// Cabinet expansion through FDI: memory and file callbacks on Win32 handles, and the notification
// callback that places each file below the destination folder.
#include "package/CabExtractor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "package/FileSystem.h"
#include "package/portable/PackageFormat.h"

namespace {

using FDICreateFn = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int, PERF);
using FDICopyFn = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
using FDIDestroyFn = BOOL(DIAMONDAPI*)(HFDI);

// Cabinet.dll from the system folder, bound by ordinal, loaded once on first use and kept.
struct CabinetLibrary {
  FDICreateFn create = nullptr;
  FDICopyFn copy = nullptr;
  FDIDestroyFn destroy = nullptr;

  CabinetLibrary() {
    std::wstring path;
    if (!GetSystemDirectoryPath(path)) return;
    path += L"\\Cabinet.dll";
    HMODULE module = LoadLibraryW(path.c_str());
    if (!module) return;
    create = reinterpret_cast<FDICreateFn>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(20))));
    copy = reinterpret_cast<FDICopyFn>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(22))));
    destroy = reinterpret_cast<FDIDestroyFn>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(23))));
  }
  bool Usable() const { return create && copy && destroy; }
};

const CabinetLibrary& Cabinet() {
  static const CabinetLibrary library;
  return library;
}

std::string ToUtf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

std::wstring FromUtf8(const char* text) {
  if (!text) return std::wstring();
  const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), size);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

bool IsDeviceName(const std::wstring& component) {
  // The device is named by the text before the first dot, trailing spaces ignored ("nul.txt", "COM1 ").
  std::wstring base = component.substr(0, component.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
      base == L"CONOUT$") {
    return true;
  }
  if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)) {
    const wchar_t digit = base[3];
    return (digit >= L'0' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
  }
  return false;
}

// The cabinet that Extract reads in place from a larger file (the package), while ExtractEmbedded runs.
struct EmbeddedCabinet {
  std::string name;  // the file name FDI opens it by, after the folder it was given
  std::wstring container;
  uint64_t offset = 0;
  uint32_t size = 0;
  bool complement = false;
  bool active = false;
};
EmbeddedCabinet g_embedded;

// One open of the embedded cabinet. FDI opens a cabinet more than once (to check it, then to copy
// from it), so each open has its own handle and position. Their addresses are the FDI handles, which
// no Win32 handle value can equal.
struct EmbeddedOpen {
  HANDLE file = INVALID_HANDLE_VALUE;
  uint32_t position = 0;
};
EmbeddedOpen g_opens[4];

EmbeddedOpen* AsEmbedded(INT_PTR hf) {
  for (EmbeddedOpen& open : g_opens) {
    if (hf == reinterpret_cast<INT_PTR>(&open)) return &open;
  }
  return nullptr;
}

// Each open has a handle of its own, so its file pointer is its position: plain reads from the
// pointer, as reads at an explicit offset were measured three times slower under Wine.
bool PlaceEmbedded(EmbeddedOpen& open, uint32_t position) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(g_embedded.offset + position);
  if (!SetFilePointerEx(open.file, at, nullptr, FILE_BEGIN)) return false;
  open.position = position;
  return true;
}

// Whether FDI is opening the embedded cabinet: the path it built ends in the cabinet's name.
bool IsEmbeddedName(const char* path) {
  if (!path) return false;
  const size_t length = strlen(path);
  const size_t nameLength = g_embedded.name.size();
  if (length < nameLength || g_embedded.name.compare(0, nameLength, path + length - nameLength) != 0) return false;
  return length == nameLength || path[length - nameLength - 1] == '\\' || path[length - nameLength - 1] == '/';
}

INT_PTR OpenEmbedded() {
  for (EmbeddedOpen& open : g_opens) {
    if (open.file != INVALID_HANDLE_VALUE) continue;
    open.file = CreateFileW(g_embedded.container.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (open.file == INVALID_HANDLE_VALUE) return -1;
    if (!PlaceEmbedded(open, 0)) {
      CloseHandle(open.file);
      open.file = INVALID_HANDLE_VALUE;
      return -1;
    }
    return reinterpret_cast<INT_PTR>(&open);
  }
  return -1;
}

UINT ReadEmbedded(EmbeddedOpen& open, void* pv, UINT cb) {
  const uint32_t left = g_embedded.size - open.position;
  const DWORD want = cb < left ? cb : left;
  DWORD done = 0;
  if (want && !ReadFile(open.file, pv, want, &done, nullptr)) return static_cast<UINT>(-1);
  if (g_embedded.complement) ComplementBytes(pv, done);
  open.position += done;
  return done;
}

LONG SeekEmbedded(EmbeddedOpen& open, LONG dist, int seektype) {
  int64_t base = 0;
  if (seektype == SEEK_CUR) base = open.position;
  if (seektype == SEEK_END) base = g_embedded.size;
  const int64_t target = base + dist;
  if (target < 0 || target > static_cast<int64_t>(g_embedded.size)) return -1;
  return PlaceEmbedded(open, static_cast<uint32_t>(target)) ? static_cast<LONG>(target) : -1;
}

void* DIAMONDAPI FdiAlloc(ULONG cb) { return malloc(cb); }

void DIAMONDAPI FdiFree(void* pv) {
  if (pv) free(pv);
}

INT_PTR DIAMONDAPI FdiOpen(char* pszFile, int oflag, int) {
  if (g_embedded.active && (oflag & 3) == 0 && IsEmbeddedName(pszFile)) return OpenEmbedded();
  DWORD access = GENERIC_READ;
  if (oflag & 2) {  // _O_RDWR
    access = GENERIC_READ | GENERIC_WRITE;
  } else if (oflag & 1) {  // _O_WRONLY
    access = GENERIC_WRITE;
  }
  const DWORD disposition = (oflag & 0x100) ? CREATE_ALWAYS : OPEN_EXISTING;  // _O_CREAT
  const std::wstring name = FromUtf8(pszFile);
  HANDLE file = CreateFileW(name.c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return reinterpret_cast<INT_PTR>(file);
}

UINT DIAMONDAPI FdiRead(INT_PTR hf, void* pv, UINT cb) {
  if (EmbeddedOpen* open = AsEmbedded(hf)) return pv ? ReadEmbedded(*open, pv, cb) : static_cast<UINT>(-1);
  DWORD done = 0;
  if (!hf || !pv || !ReadFile(reinterpret_cast<HANDLE>(hf), pv, cb, &done, nullptr)) return static_cast<UINT>(-1);
  return done;
}

// Set when a write of the running expansion failed or fell short (a full disk). Not every FDI stops
// on a failed write callback, and a cabinet expanded with holes must not count as expanded.
// Expansion runs on one thread at a time, from Extract.
bool g_writeFailed = false;

UINT DIAMONDAPI FdiWrite(INT_PTR hf, void* pv, UINT cb) {
  DWORD done = 0;
  if (!hf || !pv || !WriteFile(reinterpret_cast<HANDLE>(hf), pv, cb, &done, nullptr)) {
    g_writeFailed = true;
    return static_cast<UINT>(-1);
  }
  if (done != cb) g_writeFailed = true;
  return done;
}

int DIAMONDAPI FdiClose(INT_PTR hf) {
  if (EmbeddedOpen* open = AsEmbedded(hf)) {
    CloseHandle(open->file);
    open->file = INVALID_HANDLE_VALUE;
    return 0;
  }
  if (!hf) return -1;
  return CloseHandle(reinterpret_cast<HANDLE>(hf)) ? 0 : -1;
}

LONG DIAMONDAPI FdiSeek(INT_PTR hf, LONG dist, int seektype) {
  if (EmbeddedOpen* open = AsEmbedded(hf)) return SeekEmbedded(*open, dist, seektype);
  return static_cast<LONG>(SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, static_cast<DWORD>(seektype)));
}

INT_PTR CopyFileStart(PFDINOTIFICATION pfdin) {
  // Cabinets from elsewhere may use either separator; a name that would leave the destination folder
  // is refused like a file that cannot be opened, which aborts the copy.
  std::wstring name = FromUtf8(pfdin->psz1);
  for (wchar_t& c : name) {
    if (c == L'/') c = L'\\';
  }
  if (!IsSafeCabinetName(name)) return -1;

  std::wstring subfolder;
  std::wstring file;
  SplitDirAndName(name, subfolder, file);
  std::wstring folder = FromUtf8(static_cast<const char*>(pfdin->pv));
  if (folder.empty() || folder.back() != L'\\') folder += L'\\';
  folder += subfolder;
  if (CreateDirectoryChain(folder.c_str()) != 0) return -1;

  std::string target = ToUtf8(folder + file);
  return FdiOpen(target.data(), 0x101, 0);  // _O_WRONLY | _O_CREAT: always a new file
}

INT_PTR CopyFileEnd(PFDINOTIFICATION pfdin) {
  FILETIME local;
  FILETIME utc;
  if (DosDateTimeToFileTime(pfdin->date, pfdin->time, &local) && LocalFileTimeToFileTime(&local, &utc)) {
    // Only the creation time carries the cabinet's stamp; the other times stay as the system set them.
    FILE_BASIC_INFO info = {};
    info.CreationTime.LowPart = utc.dwLowDateTime;
    info.CreationTime.HighPart = static_cast<LONG>(utc.dwHighDateTime);
    info.LastAccessTime.QuadPart = -1;
    info.LastWriteTime.QuadPart = -1;
    info.ChangeTime.QuadPart = -1;
    info.FileAttributes = pfdin->attribs & 0x27;  // read-only, hidden, system, archive
    SetFileInformationByHandle(reinterpret_cast<HANDLE>(pfdin->hf), FileBasicInfo, &info, sizeof(info));
  }
  if (!pfdin->hf) return FALSE;
  return CloseHandle(reinterpret_cast<HANDLE>(pfdin->hf)) ? TRUE : FALSE;
}

INT_PTR DIAMONDAPI FdiNotify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin) {
  switch (fdint) {
    case fdintCABINET_INFO:
    case fdintPARTIAL_FILE:
    case fdintENUMERATE:
      return 0;
    case fdintCOPY_FILE:
      return CopyFileStart(pfdin);
    case fdintCLOSE_FILE_INFO:
      return CopyFileEnd(pfdin);
    case fdintNEXT_CABINET:
      return pfdin->fdie == FDIERROR_NONE ? 0 : -1;
    default:
      return -1;
  }
}

}  // namespace

const char* FdiErrorName(int code) {
  static const char* const names[] = {
      "No error",
      "Cabinet not found",
      "Not a cabinet",
      "Unknown cabinet version",
      "Corrupt cabinet",
      "Memory allocation failed",
      "Unknown compression type",
      "Failure decompressing data",
      "Failure writing to target file",
      "Cabinets in set have different RESERVE sizes",
      "Cabinet returned on fdintNEXT_CABINET is incorrect",
      "Application aborted",
  };
  if (code < 0 || code >= static_cast<int>(sizeof(names) / sizeof(names[0]))) return "Unknown error";
  return names[code];
}

void SplitDirAndName(const std::wstring& path, std::wstring& dir, std::wstring& name) {
  const size_t cut = path.rfind(L'\\');
  if (cut == std::wstring::npos) {
    dir.clear();
    name = path;
  } else {
    dir = path.substr(0, cut + 1);
    name = path.substr(cut + 1);
  }
}

bool IsSafeCabinetName(const std::wstring& name) {
  if (name.empty() || name[0] == L'\\' || name[0] == L'/' || name.find(L':') != std::wstring::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = name.size();
    const std::wstring component = name.substr(start, end - start);
    if (!component.empty()) {
      // Windows drops trailing dots and spaces, so ". ." and "..." mean what "." and ".." mean.
      if (component.find_first_not_of(L". ") == std::wstring::npos) return false;
      if (IsDeviceName(component)) return false;
    }
    start = end + 1;
  }
  return true;
}

namespace {
// One diagnostic line on standard output. The platform C runtime formats it (_snprintf), not the
// toolchain's own printf, whose floating-point machinery would otherwise come along for two lines.
void Diagnose(const char* what, int code) {
  char line[160];
  if (code < 0) {
    _snprintf(line, sizeof line, "%s\n", what);
  } else {
    _snprintf(line, sizeof line, "%s failed with error code %d: %s\n", what, code, FdiErrorName(code));
  }
  line[sizeof line - 1] = 0;
  fputs(line, stdout);
}
}  // namespace

bool CCabExtractor::Create() {
  m_erf = {};
  const CabinetLibrary& cabinet = Cabinet();
  if (!cabinet.Usable()) {
    Diagnose("Cabinet.dll could not be loaded from the system folder", -1);
    return false;
  }
  m_hfdi = cabinet.create(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpuUNKNOWN, &m_erf);
  if (!m_hfdi) {
    Diagnose("FDICreate", m_erf.erfOper);
    return false;
  }
  return true;
}

bool CCabExtractor::Extract(const std::wstring& cabinetPath, const std::wstring& destFolder) {
  std::wstring cabinetFolder;
  std::wstring cabinetName;
  SplitDirAndName(cabinetPath, cabinetFolder, cabinetName);
  if (destFolder.size() < 3 || cabinetFolder.size() < 2 || cabinetName.size() < 2) return true;
  if (!m_hfdi) return false;

  std::string name = ToUtf8(cabinetName);
  std::string folder = ToUtf8(cabinetFolder);
  std::string destination = ToUtf8(destFolder);
  g_writeFailed = false;
  const BOOL copied = Cabinet().copy(m_hfdi, name.data(), folder.data(), 0, FdiNotify, nullptr, destination.data());
  if (copied && g_writeFailed) {
    m_erf.erfOper = FDIERROR_TARGET_FILE;
    m_erf.fError = TRUE;
  }
  if (!copied || g_writeFailed) {
    Diagnose("FDICopy", m_erf.erfOper);
    return false;
  }
  return true;
}

bool CCabExtractor::ExtractEmbedded(const std::wstring& cabinetPath, const std::wstring& container, uint64_t offset,
                                    uint32_t size, bool complement, const std::wstring& destFolder) {
  std::wstring cabinetFolder;
  std::wstring cabinetName;
  SplitDirAndName(cabinetPath, cabinetFolder, cabinetName);
  g_embedded.name = ToUtf8(cabinetName);
  g_embedded.container = container;
  g_embedded.offset = offset;
  g_embedded.size = size;
  g_embedded.complement = complement;
  g_embedded.active = true;
  const bool expanded = Extract(cabinetPath, destFolder);
  g_embedded.active = false;
  // An FDI that stopped half-way may not have closed every open of the cabinet.
  for (EmbeddedOpen& open : g_opens) {
    if (open.file != INVALID_HANDLE_VALUE) FdiClose(reinterpret_cast<INT_PTR>(&open));
  }
  return expanded;
}

void CCabExtractor::Destroy() {
  if (m_hfdi) {
    Cabinet().destroy(m_hfdi);
    m_hfdi = nullptr;
  }
}
