// The XML reader over the platform's DOM, against real files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/XmlParser.h"

namespace {

std::string Utf8(const std::wstring& text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

class XmlParser : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    wchar_t dir[MAX_PATH] = {};
    ::GetTempFileNameW(temp, L"xml", 0, dir);
    ::DeleteFileW(dir);
    ASSERT_TRUE(::CreateDirectoryW(dir, nullptr));
    m_dir = dir;
  }
  void TearDown() override {
    for (const std::wstring& f : m_files) ::DeleteFileW(f.c_str());
    ::RemoveDirectoryW(m_dir.c_str());
    ::CoUninitialize();
  }
  std::wstring Write(const wchar_t* name, const std::wstring& content) {
    const std::wstring path = m_dir + L"\\" + name;
    const std::string bytes = Utf8(content);
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(f);
    m_files.push_back(path);
    return path;
  }
  static std::wstring TextOf(nsCommon::CXMLParser& reader, const wchar_t* path, IXMLDOMNode* context = nullptr) {
    HRESULT failure = E_UNEXPECTED;
    IXMLDOMElement* e = reader.SelectSingleNode(path, context, &failure);
    EXPECT_EQ(failure, S_OK) << path;
    if (!e) return L"<none>";
    CString text(L"<unchanged>");
    reader.GetNodeText(text, e);
    e->Release();
    return text.Str();
  }

  std::wstring m_dir;
  std::vector<std::wstring> m_files;
};

TEST_F(XmlParser, EmptyPathAndMissingOrMalformedFilesDoNotLoad) {
  nsCommon::CXMLParser reader;
  ASSERT_NE(reader.GetDocument(), nullptr) << "the DOM of version 3.0 must be available";
  HRESULT failure = E_UNEXPECTED;
  EXPECT_FALSE(reader.Load(nullptr, &failure));
  EXPECT_EQ(failure, S_OK);
  EXPECT_FALSE(reader.Load(L"", &failure));
  EXPECT_EQ(failure, S_OK);
  EXPECT_FALSE(reader.Load((m_dir + L"\\absent.xml").c_str(), &failure));
  EXPECT_EQ(failure, S_OK) << "a missing file is not a DOM failure";
  const std::wstring bad = Write(L"bad.xml", L"<MessageInfo><ENG>unclosed</MessageInfo>");
  EXPECT_FALSE(reader.Load(bad.c_str(), &failure));
  EXPECT_EQ(failure, S_OK);
  EXPECT_TRUE(reader.GetSelectionPrefix().IsEmpty());
  EXPECT_EQ(TextOf(reader, L"MessageInfo/ENG"), L"<none>");
}

TEST_F(XmlParser, DocumentWithoutNamespaceSelectsByPlainPath) {
  const std::wstring path = Write(
      L"plain.xml",
      L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      L"<MessageInfo>\r\n  <ENG>Install the update now?</ENG>\r\n  <JPN>\x66F4\x65B0\x3057\x307E\x3059\x304B\xFF1F</JPN>\r\n"
      L"</MessageInfo>\r\n");
  nsCommon::CXMLParser reader;
  HRESULT failure = E_UNEXPECTED;
  ASSERT_TRUE(reader.Load(path.c_str(), &failure));
  EXPECT_EQ(failure, S_OK);
  EXPECT_TRUE(reader.GetSelectionPrefix().IsEmpty());
  EXPECT_EQ(TextOf(reader, L"MessageInfo/ENG"), L"Install the update now?");
  EXPECT_EQ(TextOf(reader, L"MessageInfo/JPN"), L"\x66F4\x65B0\x3057\x307E\x3059\x304B\xFF1F");
  EXPECT_EQ(TextOf(reader, L"MessageInfo/DEU"), L"<none>");

  // From a context node the path is relative to it; the caller's reference stays usable.
  IXMLDOMElement* root = nullptr;
  ASSERT_TRUE(SUCCEEDED(reader.GetDocument()->get_documentElement(&root)) && root);
  EXPECT_EQ(TextOf(reader, L"ENG", root), L"Install the update now?");
  EXPECT_EQ(TextOf(reader, L"ENG", root), L"Install the update now?");
  BSTR name = nullptr;
  EXPECT_EQ(root->get_nodeName(&name), S_OK);
  EXPECT_EQ(std::wstring(name), L"MessageInfo");
  ::SysFreeString(name);
  root->Release();
}

TEST_F(XmlParser, DefaultNamespaceIsBoundForSelections) {
  const std::wstring path = Write(
      L"ns.xml",
      L"<?xml version=\"1.0\"?><MessageInfo xmlns=\"urn:halvo:message-info\"><ENG>With namespace</ENG></MessageInfo>");
  nsCommon::CXMLParser reader;
  HRESULT failure = E_UNEXPECTED;
  ASSERT_TRUE(reader.Load(path.c_str(), &failure)) << std::hex << failure;
  EXPECT_EQ(failure, S_OK);
  EXPECT_EQ(reader.GetSelectionPrefix(), L"//bk:");

  // The declaration as written ("xmlns:bk ='uri'"), or its compact form where this DOM refuses
  // the blank before "=" (Wine's does).
  std::wstring expected = L"xmlns:bk ='urn:halvo:message-info'";
  {
    nsCommon::CXMLParser probe;
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocString(expected.c_str());
    BSTR name = ::SysAllocString(L"SelectionNamespaces");
    if (FAILED(probe.GetDocument()->setProperty(name, v))) expected = L"xmlns:bk='urn:halvo:message-info'";
    ::SysFreeString(name);
    ::VariantClear(&v);
  }
  VARIANT value;
  ::VariantInit(&value);
  BSTR name = ::SysAllocString(L"SelectionNamespaces");
  ASSERT_EQ(reader.GetDocument()->getProperty(name, &value), S_OK);
  ::SysFreeString(name);
  ASSERT_EQ(value.vt, VT_BSTR);
  EXPECT_EQ(std::wstring(value.bstrVal), expected);
  ::VariantClear(&value);

  // Only the first step carries the prefix; the DOM's default selection language finds the child.
  EXPECT_EQ(TextOf(reader, L"MessageInfo/ENG"), L"With namespace");
  EXPECT_EQ(TextOf(reader, L"MessageInfo/DEU"), L"<none>");
  // The root is reached through the bound prefix.
  IXMLDOMElement* root = reader.SelectSingleNode(L"MessageInfo", nullptr, &failure);
  EXPECT_EQ(failure, S_OK);
  ASSERT_NE(root, nullptr);
  root->Release();
}

TEST_F(XmlParser, AttributesAndTextNodesAreNotElements) {
  const std::wstring path =
      Write(L"attr.xml", L"<MessageInfo version=\"2\"><ENG lang=\"en\">Hello</ENG></MessageInfo>");
  nsCommon::CXMLParser reader;
  ASSERT_TRUE(reader.Load(path.c_str()));
  EXPECT_EQ(TextOf(reader, L"MessageInfo/@version"), L"<none>");
  EXPECT_EQ(TextOf(reader, L"MessageInfo/ENG/@lang"), L"<none>");
  EXPECT_EQ(TextOf(reader, L"MessageInfo/ENG/text()"), L"<none>");
  EXPECT_EQ(TextOf(reader, L"MessageInfo/ENG"), L"Hello");
  // A null element leaves the text as it was.
  CString text(L"kept");
  reader.GetNodeText(text, nullptr);
  EXPECT_EQ(text, L"kept");
}

TEST_F(XmlParser, NestedTextRunsTogether) {
  const std::wstring path = Write(
      L"nested.xml",
      L"<MessageInfo><ENG>Close <b>all</b> programs, then <i>press <u>OK</u></i>.</ENG><DEU></DEU></MessageInfo>");
  nsCommon::CXMLParser reader;
  ASSERT_TRUE(reader.Load(path.c_str()));
  EXPECT_EQ(TextOf(reader, L"MessageInfo/ENG"), L"Close all programs, then press OK.");
  EXPECT_EQ(TextOf(reader, L"MessageInfo/DEU"), L"");
}

TEST_F(XmlParser, NamespaceThatCannotBeBoundIsAFailureCode) {
  // An apostrophe in the URI ends the quoted declaration early, and what follows it is no namespace
  // declaration: the DOM refuses the property.
  const std::wstring path =
      Write(L"quote.xml", L"<MessageInfo xmlns=\"urn:halvo' lang ='en\"><ENG>x</ENG></MessageInfo>");
  nsCommon::CXMLParser reader;
  HRESULT failure = S_OK;
  EXPECT_FALSE(reader.Load(path.c_str(), &failure));
  EXPECT_TRUE(FAILED(failure)) << std::hex << failure;
  EXPECT_TRUE(reader.GetSelectionPrefix().IsEmpty());
}

#if defined(_WIN64)
// A node whose every DOM method fails: QueryInterface hands out itself, the rest answer E_NOTIMPL.
// One stub serves all slots because the x64 calling convention lets the caller clean up arguments.
HRESULT WINAPI FakeNotImpl() { return E_NOTIMPL; }
struct FakeNode {
  void* const* vtbl;
  LONG refs = 1;
};
HRESULT WINAPI FakeQueryInterface(FakeNode* self, REFIID, void** out) {
  ++self->refs;
  *out = self;
  return S_OK;
}
ULONG WINAPI FakeAddRef(FakeNode* self) { return static_cast<ULONG>(++self->refs); }
ULONG WINAPI FakeRelease(FakeNode* self) { return static_cast<ULONG>(--self->refs); }

TEST_F(XmlParser, FailingSelectionIsAFailureCode) {
  void* vtbl[64];
  vtbl[0] = reinterpret_cast<void*>(&FakeQueryInterface);
  vtbl[1] = reinterpret_cast<void*>(&FakeAddRef);
  vtbl[2] = reinterpret_cast<void*>(&FakeRelease);
  for (int i = 3; i < 64; ++i) vtbl[i] = reinterpret_cast<void*>(&FakeNotImpl);
  FakeNode node{vtbl};
  nsCommon::CXMLParser reader;
  HRESULT failure = S_OK;
  EXPECT_EQ(reader.SelectSingleNode(L"ENG", reinterpret_cast<IXMLDOMNode*>(&node), &failure), nullptr);
  EXPECT_EQ(failure, E_NOTIMPL);
  EXPECT_EQ(node.refs, 1) << "every reference taken is given back";
}
#endif

}  // namespace
