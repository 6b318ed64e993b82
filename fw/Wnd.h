#pragma once
// Windows, dialogs and message maps: the part of a dialog-application framework the stub stands on.
#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "fw/String.h"

class CWnd;
class CDataExchange;

// Every message-map handler has this one shape: it gets wParam and lParam and returns the result.
using AFX_PMSG = LRESULT (CWnd::*)(WPARAM, LPARAM);

struct AFX_MSGMAP_ENTRY {
  UINT nMessage;  // 0 ends the table
  UINT nID;       // WM_COMMAND: the control id the entry answers (other messages: 0)
  AFX_PMSG pfn;
};

struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();
  const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                       \
 protected:                                         \
  static const AFX_MSGMAP* GetThisMessageMap();     \
  const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                   \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                              \
    using ThisClass [[maybe_unused]] = theClass;                                 \
    using TheBaseClass = baseClass;                                              \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define ON_MESSAGE(message, memberFxn) {message, 0, static_cast<AFX_PMSG>(&ThisClass::memberFxn)},
#define ON_COMMAND_ID(id, memberFxn) {WM_COMMAND, id, static_cast<AFX_PMSG>(&ThisClass::memberFxn)},
#define END_MESSAGE_MAP()                                                        \
      {0, 0, nullptr}};                                                          \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, _messageEntries}; \
    return &messageMap;                                                          \
  }

class CWnd {
 public:
  CWnd() = default;
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }

  // The object attached to a window by this framework, or null.
  static CWnd* FromHandlePermanent(HWND hWnd);
  void Attach(HWND hWnd);
  HWND Detach();

  virtual BOOL PreTranslateMessage(MSG* pMsg);
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual const AFX_MSGMAP* GetMessageMap() const;

  // Thin wrappers used by the stub.
  BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
  BOOL IsWindow() const { return m_hWnd && ::IsWindow(m_hWnd); }
  LRESULT SendMessage(UINT m, WPARAM w = 0, LPARAM l = 0) { return ::SendMessageW(m_hWnd, m, w, l); }
  BOOL PostMessage(UINT m, WPARAM w = 0, LPARAM l = 0) { return ::PostMessageW(m_hWnd, m, w, l); }
  void SetWindowText(const wchar_t* text) { ::SetWindowTextW(m_hWnd, text); }
  CString GetWindowText() const;
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  UINT_PTR SetTimer(UINT_PTR id, UINT elapse) { return ::SetTimer(m_hWnd, id, elapse, nullptr); }
  BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
  void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }
  BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
  void CenterWindow(HWND hWndAlternateOwner = nullptr);

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  // Looks the message up in the map chain; true when a handler took it.
  BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
  WNDPROC m_pfnSuper = nullptr;  // the window's own procedure, once subclassed
  static LRESULT CALLBACK FrameworkWndProc(HWND, UINT, WPARAM, LPARAM);
  void SubclassWindow(HWND hWnd);
};

// Lets DoDataExchange bind controls of a dialog to objects.
class CDialog;
class CDataExchange {
 public:
  CDataExchange(CDialog* dlg, BOOL saveAndValidate) : m_pDlgWnd(dlg), m_bSaveAndValidate(saveAndValidate) {}
  CDialog* m_pDlgWnd;
  BOOL m_bSaveAndValidate;
};
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  ~CDialog() override;

  virtual INT_PTR DoModal();
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(CDataExchange* pDX);
  virtual void OnOK();
  virtual void OnCancel();
  BOOL UpdateData(BOOL saveAndValidate = TRUE);
  void EndDialog(int nResult);

  BOOL PreTranslateMessage(MSG* pMsg) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  UINT m_nIDHelp = 0;

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  const AFX_MSGMAP* GetMessageMap() const override;
  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;
  std::vector<CWnd*> m_controls;  // bound by DDX_Control, detached when the window goes
  friend void DDX_Control(CDataExchange*, int, CWnd&);

 private:
  static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
  BOOL HandleInitDialog();
  bool m_bContinueModal = false;
  int m_nModalResult = -1;
};

class CProgressCtrl : public CWnd {
 public:
  void SetRange32(int lower, int upper) { SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(lower), upper); }
  int SetPos(int pos) { return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos))); }
  int GetPos() { return static_cast<int>(SendMessage(PBM_GETPOS)); }
  int SetStep(int step) { return static_cast<int>(SendMessage(PBM_SETSTEP, static_cast<WPARAM>(step))); }
  int StepIt() { return static_cast<int>(SendMessage(PBM_STEPIT)); }
};

// Runs the modal loop's pre-translation from the message's window up to (and including) hWndStop.
BOOL AfxWalkPreTranslateTree(HWND hWndStop, MSG* pMsg);
