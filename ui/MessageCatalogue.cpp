#include "ui/MessageCatalogue.h"

#include <cstdint>

#include "res/resource.h"
#include "ui/NormalMessageBox.h"
#include "ui/Strings.h"
#include "ui/XmlParser.h"
#include "ui/portable/LanguageList.h"

namespace {

constexpr WORD kEnglish = 0x0409;
const wchar_t kEnglishElement[] = L"MessageInfo/ENG";

// The user's preferred UI languages followed by the system's; a query that fails adds nothing.
std::wstring PlatformLanguageList() {
  CString list;
  ULONG count = 0;
  GetUserUiLanguages(count, list);
  GetSystemUiLanguages(count, list);
  return list.Str();
}

bool Ask(BYTE& showFlag, BYTE okOnly, const std::wstring& folder, const CString& caption,
         const std::wstring* languageList) {
  bool goOn = true;
  // No box to show: the catalogue could change nothing, so the DOM (and its libraries) stays unloaded.
  if (!showFlag) return goOn;
  const std::wstring path = folder + L"\\MessageInfo.xml";
  CString message, okLabel, cancelLabel;

  // The DOM needs an apartment; a thread already in another one is used as it is.
  const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(init) || init == RPC_E_CHANGED_MODE) {
    nsCommon::CXMLParser reader;
    HRESULT failure = S_OK;
    const bool loaded = reader.Load(path.c_str(), &failure);

    WORD language = kEnglish;
    const wchar_t* element = kEnglishElement;
    IXMLDOMElement* node = nullptr;
    if (loaded) {
      language = ChooseCatalogueLanguage(languageList ? *languageList : PlatformLanguageList(), element);
      node = reader.SelectSingleNode(element, nullptr, &failure);
    }
    if (!node && SUCCEEDED(failure)) {
      element = kEnglishElement;
      language = kEnglish;
      node = reader.SelectSingleNode(element, nullptr, &failure);
    }
    // A failing DOM counts as a missing catalogue: nothing to show, and the run goes on.
    if (FAILED(failure) || !node) {
      showFlag = 0;
    } else {
      reader.GetNodeText(message, node);
    }
    if (node) node->Release();

    // The labels in exactly the language of the message; gaps are filled with English below.
    LoadStringForLanguage(okLabel, nullptr, IDS_OK, language);
    LoadStringForLanguage(cancelLabel, nullptr, IDS_CANCEL, language);
  }
  // The reader is gone before the apartment is left.
  if (SUCCEEDED(init)) ::CoUninitialize();

  // Ampersands are shown as they are, not as mnemonic marks.
  message.Replace(L"&", L"&&");

  if (!showFlag) return goOn;
  if (okLabel.IsEmpty()) LoadStringForLanguage(okLabel, nullptr, IDS_OK, kEnglish);

  CNormalMessageBox box;
  if (okOnly) {
    box.SetContent(message, caption, okLabel, nullptr);
    box.DoModal();  // a notice: whatever the user does, the run goes on
    return goOn;
  }
  if (cancelLabel.IsEmpty()) LoadStringForLanguage(cancelLabel, nullptr, IDS_CANCEL, kEnglish);
  // Cancel is the right-hand button (IDNO), OK the left-hand one (IDYES).
  box.SetContent(message, caption, cancelLabel, okLabel);
  const INT_PTR result = box.DoModal();
  if (result == IDNO || result == IDCANCEL) goOn = false;
  return goOn;
}

}  // namespace

bool AskUser(BYTE& showFlag, BYTE okOnly, const std::wstring& folder, const CString& caption) {
  return Ask(showFlag, okOnly, folder, caption, nullptr);
}

bool AskUserForLanguages(BYTE& showFlag, BYTE okOnly, const std::wstring& folder, const CString& caption,
                         const std::wstring& languageList) {
  return Ask(showFlag, okOnly, folder, caption, &languageList);
}
