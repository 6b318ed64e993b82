#include "ui/XmlParser.h"

#include <oleauto.h>

namespace nsCommon {

namespace {

// The DOM of version 3.0 and the interfaces the reader uses; spelled out here because the
// import libraries do not carry all of them.
const CLSID kClsidDomDocument30 = {0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
const IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidXmlDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidXmlDomNode = {0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidXmlDomElement = {0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// Holds one COM reference and releases it on every way out.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  T** Out() {
    Reset();
    return &m_p;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  T* Detach() {
    T* p = m_p;
    m_p = nullptr;
    return p;
  }
  void Reset() {
    if (m_p) m_p->Release();
    m_p = nullptr;
  }

 private:
  T* m_p = nullptr;
};

// A BSTR freed on every way out.
class Bstr {
 public:
  explicit Bstr(const wchar_t* text = nullptr) : m_b(text ? ::SysAllocString(text) : nullptr) {}
  ~Bstr() { ::SysFreeString(m_b); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR Get() const { return m_b; }
  BSTR* Out() {
    ::SysFreeString(m_b);
    m_b = nullptr;
    return &m_b;
  }

 private:
  BSTR m_b;
};

void Report(HRESULT* failure, HRESULT hr) {
  if (failure) *failure = hr;
}

}  // namespace

CXMLParser::CXMLParser() { CreateDocument(); }

CXMLParser::~CXMLParser() {
  if (m_pDocument) m_pDocument->Release();
  m_pDocument = nullptr;
}

void CXMLParser::CreateDocument() {
  if (m_pDocument) m_pDocument->Release();
  m_pDocument = nullptr;
  ComRef<IUnknown> unknown;
  if (FAILED(::CoCreateInstance(kClsidDomDocument30, nullptr, CLSCTX_ALL, kIidUnknown, unknown.OutVoid()))) return;
  if (FAILED(::OleRun(unknown.Get()))) return;
  IXMLDOMDocument2* document = nullptr;
  if (FAILED(unknown->QueryInterface(kIidXmlDomDocument2, reinterpret_cast<void**>(&document)))) return;
  m_pDocument = document;
}

bool CXMLParser::Load(const wchar_t* path, HRESULT* failure) {
  Report(failure, S_OK);
  if (!path || !*path || !m_pDocument) return false;

  VARIANT source;
  ::VariantInit(&source);
  source.vt = VT_BSTR;
  source.bstrVal = ::SysAllocString(path);
  if (!source.bstrVal) {
    Report(failure, E_OUTOFMEMORY);
    return false;
  }
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT hr = m_pDocument->load(source, &loaded);
  ::VariantClear(&source);
  if (FAILED(hr)) {
    Report(failure, hr);
    return false;
  }
  const bool ok = loaded == VARIANT_TRUE;
  if (!ok) return false;

  // Bind the root's namespace, so that selections can name its elements.
  ComRef<IXMLDOMElement> root;
  if (SUCCEEDED(m_pDocument->get_documentElement(root.Out())) && root) {
    Bstr uri;
    if (SUCCEEDED(root->get_namespaceURI(uri.Out())) && uri.Get() && ::SysStringLen(uri.Get()) > 0) {
      HRESULT set = SetSelectionNamespace(L"xmlns:bk ='", uri.Get());
      // Some DOMs refuse blanks around the "=" of the declaration; the compact form means the same.
      if (FAILED(set) && set != E_OUTOFMEMORY) set = SetSelectionNamespace(L"xmlns:bk='", uri.Get());
      if (FAILED(set)) {
        Report(failure, set);
        return false;
      }
      m_strSelectionPrefix = L"//bk:";
    }
  }
  return ok;
}

HRESULT CXMLParser::SetSelectionNamespace(const wchar_t* head, const wchar_t* uri) {
  CString declaration(head);
  declaration += uri;
  declaration += L"'";
  Bstr name(L"SelectionNamespaces");
  VARIANT value;
  ::VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = ::SysAllocString(declaration);
  HRESULT hr = E_OUTOFMEMORY;
  if (name.Get() && value.bstrVal) hr = m_pDocument->setProperty(name.Get(), value);
  ::VariantClear(&value);
  return hr;
}

IXMLDOMElement* CXMLParser::SelectSingleNode(const wchar_t* path, IXMLDOMNode* context, HRESULT* failure) {
  Report(failure, S_OK);
  ComRef<IXMLDOMNode> start;
  if (context) {
    if (FAILED(context->QueryInterface(kIidXmlDomNode, start.OutVoid()))) return nullptr;
  } else if (m_pDocument) {
    if (FAILED(m_pDocument->QueryInterface(kIidXmlDomNode, start.OutVoid()))) return nullptr;
  }
  if (!start) return nullptr;

  // Only the first step gets the prefix: "MessageInfo/ENG" becomes "//bk:MessageInfo/ENG".
  CString expression = m_strSelectionPrefix;
  expression += path;
  Bstr query(expression);
  if (!query.Get()) {
    Report(failure, E_OUTOFMEMORY);
    return nullptr;
  }
  ComRef<IXMLDOMNode> found;
  const HRESULT hr = start->selectSingleNode(query.Get(), found.Out());
  if (FAILED(hr)) {
    Report(failure, hr);
    return nullptr;
  }
  if (!found) return nullptr;
  IXMLDOMElement* element = nullptr;
  if (FAILED(found->QueryInterface(kIidXmlDomElement, reinterpret_cast<void**>(&element)))) return nullptr;
  return element;
}

void CXMLParser::GetNodeText(CString& text, IXMLDOMElement* element) {
  if (!element) return;
  Bstr value;
  if (FAILED(element->get_text(value.Out())) || !value.Get()) {
    text.Empty();
    return;
  }
  text = value.Get();  // up to the first NUL, as a C string reads
}

}  // namespace nsCommon
