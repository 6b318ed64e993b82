#include "app/Reports.h"

#include "app/portable/SuccessCodes.h"
#include "res/resource.h"
#include "ui/NormalMessageBox.h"
#include "ui/Strings.h"

namespace {

// Warning codes of WM_TSL_WARNING.
enum : UINT { kCodeNoDiskSpace = 101, kCodeNotHalvoPc = 102, kCodeCantExtract = 103, kCodeNotAdmin = 104 };

// A message box of our own with one OK button, owned by nobody, modal on this thread.
void ShowOkBox(const CString& message, const wchar_t* caption) {
  const CString ok = LoadStringOrEnglish(IDS_OK);
  CNormalMessageBox box;
  box.SetContent(message, caption, ok, nullptr);
  box.DoModal();
}

// Two strings run together, with no space between the sentence and the error code.
CString JoinStrings(UINT first, UINT second) {
  CString text;
  text.Format(L"%s%s", LoadStringOrEnglish(first).GetString(), LoadStringOrEnglish(second).GetString());
  return text;
}

}  // namespace

void ShowWarningBox(UINT code, const wchar_t* text) {
  UINT id = 0;
  switch (code) {
    case kCodeNoDiskSpace: id = IDS_NO_DISK_SPACE; break;
    case kCodeNotHalvoPc: id = IDS_NOT_HALVO_PC; break;
    case kCodeCantExtract: id = IDS_CANT_EXTRACT; break;
    case kCodeNotAdmin: id = IDS_NOT_ADMIN; break;
    default: return;
  }
  CString message;
  LoadUiString(id, message);
  if (code == kCodeNoDiskSpace && text) {
    CString formatted;
    formatted.Format(message, text);
    message = formatted;
  }
  ::MessageBoxW(nullptr, message, L"Halvo Bundrel", MB_OK | MB_ICONWARNING);
}

void ShowFailureBox(UINT stringId) { ShowOkBox(JoinStrings(IDS_SETUP_FAILED, stringId), L"Error"); }

void ReportResultFor(DWORD exitCode, const CString& showResult, const CString& successCodes,
                     const CString& productName) {
  if (showResult != L"1") return;
  const CString message = IsSuccessExitCode(exitCode, successCodes.Str()) ? LoadStringOrEnglish(IDS_SETUP_SUCCEEDED)
                                                                          : JoinStrings(IDS_SETUP_FAILED, IDS_ERROR_1002);
  ShowOkBox(message, productName);
}
