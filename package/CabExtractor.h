#pragma once
// Expansion of a Microsoft cabinet with the system's Cabinet.dll (FDI). Paths are UTF-16 here and
// UTF-8 on FDI's side.
#include <windows.h>
#include <fdi.h>

#include <cstdint>
#include <string>

class CCabExtractor {
 public:
  CCabExtractor() = default;
  ~CCabExtractor() { Destroy(); }
  CCabExtractor(const CCabExtractor&) = delete;
  CCabExtractor& operator=(const CCabExtractor&) = delete;

  // Makes the FDI context; false (with a line on standard output) when FDI cannot be set up.
  bool Create();
  // Expands every file of the cabinet into the destination folder, making sub-folders as needed.
  // True also when the paths are too short to be real (nothing happens then).
  bool Extract(const std::wstring& cabinetPath, const std::wstring& destFolder);
  // The same for a cabinet that lies inside another file, `size` bytes from `offset`, stored
  // complemented when `complement` is set: FDI reads it in place, so it is never written out first.
  // cabinetPath only names it for FDI; nothing is read or written at that path.
  bool ExtractEmbedded(const std::wstring& cabinetPath, const std::wstring& container, uint64_t offset,
                       uint32_t size, bool complement, const std::wstring& destFolder);
  void Destroy();

  // FDI's error record of the last failed FDICreate or FDICopy (erfOper is an FDIERROR code).
  const ERF& LastError() const { return m_erf; }

 private:
  HFDI m_hfdi = nullptr;
  ERF m_erf = {};
};

// Text for an FDIERROR code; "Unknown error" outside 0 to 11.
const char* FdiErrorName(int code);

// Splits at the last backslash: folder part with that backslash, and the name after it. Without a
// backslash the folder part is empty and the name is the whole path.
void SplitDirAndName(const std::wstring& path, std::wstring& dir, std::wstring& name);

// Whether a file name from a cabinet (either separator) stays inside the destination folder: no
// absolute, drive or UNC form, no colon, no "." or ".." component (nor one made only of dots and
// spaces, which Windows trims to those), no device name such as NUL or COM1.
bool IsSafeCabinetName(const std::wstring& name);
