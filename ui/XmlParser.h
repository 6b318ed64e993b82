#pragma once
// A small read-only reader over the platform's XML DOM (Microsoft XML Core Services 3.0).
// The caller initialises COM on its thread before constructing a reader and uninitialises it
// after the reader is gone. Failing COM calls are reported as result codes, never raised.
#include <windows.h>
#include <ole2.h>
#include <msxml2.h>

#include "fw/String.h"

namespace nsCommon {

class CXMLParser {
 public:
  // Creates the document; when the DOM is not available the document stays null and every
  // operation behaves as for a missing document.
  CXMLParser();
  virtual ~CXMLParser();
  CXMLParser(const CXMLParser&) = delete;
  CXMLParser& operator=(const CXMLParser&) = delete;

  // True when the file loaded as a well-formed document. A missing or malformed file is simply
  // false. A failing result code of the DOM (from load or from binding the root's namespace) also
  // gives false and is stored in *failure when failure is given; otherwise *failure is S_OK.
  // When the root element has a namespace, that namespace is bound to the prefix "bk" (the
  // declaration "xmlns:bk ='uri'", or "xmlns:bk='uri'" where the DOM refuses the blank) and every
  // later selection is made under "//bk:".
  bool Load(const wchar_t* path, HRESULT* failure = nullptr);

  // The element that path selects, from context when given (borrowed: the caller keeps its own
  // reference), else from the document; null when nothing matches, when the match is not an
  // element, or when the DOM failed (its result code then goes to *failure). The caller owns one
  // reference of the result.
  IXMLDOMElement* SelectSingleNode(const wchar_t* path, IXMLDOMNode* context = nullptr, HRESULT* failure = nullptr);

  // Replaces text with the element's whole text (its descendants' text run together); leaves text
  // as it is for a null element.
  void GetNodeText(CString& text, IXMLDOMElement* element);

  // The text put in front of every selection path: "//bk:" once a document with a namespace loaded.
  const CString& GetSelectionPrefix() const { return m_strSelectionPrefix; }
  // The document itself (borrowed), null when the DOM could not be created.
  IXMLDOMDocument2* GetDocument() const { return m_pDocument; }

 private:
  void CreateDocument();
  // Sets the document's SelectionNamespaces to head + uri + "'".
  HRESULT SetSelectionNamespace(const wchar_t* head, const wchar_t* uri);

  IXMLDOMDocument2* m_pDocument = nullptr;
  CString m_strSelectionPrefix;
};

}  // namespace nsCommon
