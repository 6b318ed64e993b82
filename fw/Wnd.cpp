#include "fw/Wnd.h"

#include "fw/App.h"

namespace {
// The window property that ties a window to its framework object; per window, so no lock is needed
// when boxes run on the worker thread while the dialog runs on the main thread.
const wchar_t kObjectProp[] = L"TesselFwObject";
}  // namespace

CWnd::~CWnd() {
  if (m_hWnd && ::IsWindow(m_hWnd) && ::GetPropW(m_hWnd, kObjectProp) == this) ::RemovePropW(m_hWnd, kObjectProp);
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  return hWnd ? static_cast<CWnd*>(::GetPropW(hWnd, kObjectProp)) : nullptr;
}

void CWnd::Attach(HWND hWnd) {
  m_hWnd = hWnd;
  if (hWnd) ::SetPropW(hWnd, kObjectProp, this);
}

HWND CWnd::Detach() {
  HWND h = m_hWnd;
  if (h && ::IsWindow(h)) ::RemovePropW(h, kObjectProp);
  m_hWnd = nullptr;
  return h;
}

void CWnd::SubclassWindow(HWND hWnd) {
  Attach(hWnd);
  m_pfnSuper = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::FrameworkWndProc)));
}

LRESULT CALLBACK CWnd::FrameworkWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* wnd = FromHandlePermanent(hWnd);
  if (!wnd) return ::DefWindowProcW(hWnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    // Last message of the window: let it through, then let go of the handle.
    WNDPROC super = wnd->m_pfnSuper;
    ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(super));
    ::RemovePropW(hWnd, kObjectProp);
    wnd->m_hWnd = nullptr;
    wnd->m_pfnSuper = nullptr;
    return super ? ::CallWindowProcW(super, hWnd, message, wParam, lParam)
                 : ::DefWindowProcW(hWnd, message, wParam, lParam);
  }
  return wnd->WindowProc(message, wParam, lParam);
}

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, nullptr}};
  static const AFX_MSGMAP map = {nullptr, entries};
  return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->nMessage; ++e) {
      if (e->nMessage != message) continue;
      if (message == WM_COMMAND && e->nID != LOWORD(wParam)) continue;
      *pResult = (this->*(e->pfn))(wParam, lParam);
      return TRUE;
    }
  }
  return FALSE;
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (OnWndMsg(message, wParam, lParam, &result)) return result;
  return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pfnSuper) return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
  return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

CString CWnd::GetWindowText() const {
  CString text;
  int n = ::GetWindowTextLengthW(m_hWnd);
  ::GetWindowTextW(m_hWnd, text.GetBuffer(n + 1), n + 1);
  text.ReleaseBuffer();
  return text;
}

void CWnd::CenterWindow(HWND hWndAlternateOwner) {
  // Over the owner when it is visible and not minimised, otherwise on the work area of the monitor
  // of the main window (or of the primary monitor); always kept inside that work area.
  HWND owner = hWndAlternateOwner ? hWndAlternateOwner : ::GetWindow(m_hWnd, GW_OWNER);
  if (owner && (!::IsWindowVisible(owner) || ::IsIconic(owner))) owner = nullptr;
  HWND monitorOf = owner;
  if (!monitorOf) {
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd) monitorOf = app->m_pMainWnd->m_hWnd;
  }
  HMONITOR monitor = monitorOf ? ::MonitorFromWindow(monitorOf, MONITOR_DEFAULTTOPRIMARY)
                               : ::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  RECT area;
  if (::GetMonitorInfoW(monitor, &mi)) {
    area = mi.rcWork;
  } else {
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  RECT center = area;
  if (owner) ::GetWindowRect(owner, &center);
  RECT rc;
  ::GetWindowRect(m_hWnd, &rc);
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  int x = (center.left + center.right) / 2 - w / 2;
  int y = (center.top + center.bottom) / 2 - h / 2;
  if (x + w > area.right) x = area.right - w;
  if (x < area.left) x = area.left;
  if (y + h > area.bottom) y = area.bottom - h;
  if (y < area.top) y = area.top;
  ::SetWindowPos(m_hWnd, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL AfxWalkPreTranslateTree(HWND hWndStop, MSG* pMsg) {
  for (HWND h = pMsg->hwnd; h; h = ::GetParent(h)) {
    CWnd* wnd = CWnd::FromHandlePermanent(h);
    if (wnd && wnd->PreTranslateMessage(pMsg)) return TRUE;
    if (h == hWndStop) break;
  }
  return FALSE;
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
  if (rControl.m_hWnd) return;  // bound once
  HWND h = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
  if (!h) return;
  rControl.Attach(h);
  pDX->m_pDlgWnd->m_controls.push_back(&rControl);
}

// ---- CDialog

BEGIN_MESSAGE_MAP(CDialog, CWnd)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
  if (m_hWnd && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_INITDIALOG) return FALSE;
  // From here on every message of the dialog passes through the object's WindowProc; the dialog
  // class's own procedure (which calls back here and gets FALSE) does the default handling.
  auto* dlg = reinterpret_cast<CDialog*>(lParam);
  dlg->SubclassWindow(hWnd);
  return dlg->HandleInitDialog();
}

BOOL CDialog::HandleInitDialog() {
  RECT before;
  ::GetWindowRect(m_hWnd, &before);
  BOOL result = OnInitDialog();
  // Centre a hidden dialog that initialisation did not move, unless its template places it itself.
  RECT after;
  ::GetWindowRect(m_hWnd, &after);
  const LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
  if (!(style & (WS_VISIBLE | WS_CHILD)) && !(style & (DS_ABSALIGN | DS_CENTER | DS_CENTERMOUSE)) &&
      before.left == after.left && before.top == after.top) {
    CenterWindow(m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr);
  }
  return result;
}

INT_PTR CDialog::DoModal() {
  HINSTANCE inst = AfxGetApp() ? AfxGetApp()->m_hInstance : ::GetModuleHandleW(nullptr);
  HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  m_nModalResult = -1;
  m_bContinueModal = true;
  HWND hWnd = ::CreateDialogParamW(inst, MAKEINTRESOURCEW(m_nIDTemplate), parent, &CDialog::DialogProc,
                                   reinterpret_cast<LPARAM>(this));
  if (!hWnd) {
    m_bContinueModal = false;
    return -1;
  }
  bool parentDisabled = false;
  if (parent && ::IsWindowEnabled(parent)) {
    ::EnableWindow(parent, FALSE);
    parentDisabled = true;
  }
  if (m_bContinueModal && ::IsWindow(hWnd) && !::IsWindowVisible(hWnd)) ::ShowWindow(hWnd, SW_SHOWNORMAL);

  // Our own modal loop, so that PreTranslateMessage sees every message first.
  MSG msg;
  while (m_bContinueModal && ::IsWindow(hWnd)) {
    BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {  // WM_QUIT: leave the loop and hand it on
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got == -1) break;
    if (!AfxWalkPreTranslateTree(hWnd, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  if (parentDisabled) ::EnableWindow(parent, TRUE);
  if (parent && ::GetActiveWindow() == hWnd) ::SetActiveWindow(parent);
  if (::IsWindow(hWnd)) ::DestroyWindow(hWnd);
  for (CWnd* c : m_controls) c->m_hWnd = nullptr;
  m_controls.clear();
  m_hWnd = nullptr;
  return m_nModalResult;
}

void CDialog::EndDialog(int nResult) {
  m_nModalResult = nResult;
  m_bContinueModal = false;
  // No separate hide: the modal loop destroys the window as soon as it wakes, and on X11 every
  // hide of a mapped window costs a round trip to the window manager.
  // Wake the modal loop if it is waiting in GetMessage.
  ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange dx(this, saveAndValidate);
  DoDataExchange(&dx);
  return TRUE;
}

void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::PreTranslateMessage(MSG* pMsg) {
  if (!m_hWnd) return FALSE;
  if (pMsg->hwnd != m_hWnd && !::IsChild(m_hWnd, pMsg->hwnd)) return FALSE;
  return ::IsDialogMessageW(m_hWnd, pMsg);
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (OnWndMsg(message, wParam, lParam, &result)) return result;
  if (message == WM_COMMAND) {
    if (LOWORD(wParam) == IDOK) { OnOK(); return 0; }
    if (LOWORD(wParam) == IDCANCEL) { OnCancel(); return 0; }
  }
  return DefWindowProc(message, wParam, lParam);
}
