#include "app/TesselDlg.h"

#include <tlhelp32.h>

#include <new>

#include "app/PackageRunner.h"
#include "app/Reports.h"
#include "app/ResultReport.h"
#include "app/TesselApp.h"
#include "res/resource.h"
#include "ui/MessageCatalogue.h"
#include "ui/Strings.h"

namespace {
constexpr UINT_PTR kProgressTimer = 45;
constexpr UINT_PTR kWatchTimer = 1;
constexpr int kProgressCeiling = 990;  // the creep stops here; the end of the extraction fills the bar
}  // namespace

BEGIN_MESSAGE_MAP(CTesselDlg, CDialog)
  ON_MESSAGE(WM_SYSCOMMAND, OnSysCommand)
  ON_MESSAGE(WM_PAINT, OnPaint)
  ON_MESSAGE(WM_QUERYDRAGICON, OnQueryDragIcon)
  ON_MESSAGE(WM_TIMER, OnTimerMessage)
  ON_MESSAGE(WM_TSL_HIDE, OnHideWindow)
  ON_MESSAGE(WM_CLOSE, OnClose)
  ON_MESSAGE(WM_HELP, OnHelpInfo)
END_MESSAGE_MAP()

CTesselDlg::CTesselDlg() : CDialog(IDD_TESSEL_DIALOG) {
  m_hIcon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                            32, 32, LR_DEFAULTCOLOR));
}

CTesselDlg::~CTesselDlg() {
  if (m_hIcon) ::DestroyIcon(m_hIcon);
}

void CTesselDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_PROGRESS, m_progress);
}

BOOL CTesselDlg::CMyProgress::PreTranslateMessage(MSG* pMsg) {
  if (pMsg->hwnd == m_hWnd && (pMsg->message == WM_KEYDOWN || pMsg->message == 0x4D /* WM_KEYF1 */)) return TRUE;
  return CProgressCtrl::PreTranslateMessage(pMsg);
}

BOOL CTesselDlg::PreTranslateMessage(MSG* pMsg) {
  // Escape and Enter would end a dialog, Alt+F4 would close it: only the worker may end this one.
  if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_RETURN)) return TRUE;
  if (pMsg->message == WM_SYSKEYDOWN && pMsg->wParam == VK_F4) return TRUE;
  return CDialog::PreTranslateMessage(pMsg);
}

BOOL CTesselDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  CTesselApp* app = TesselApp();
  if (!app->m_bShowUi) ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, WS_EX_TOOLWINDOW);  // no taskbar button
  if (HMENU menu = ::GetSystemMenu(m_hWnd, FALSE)) ::EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  // Collapsed: the window exists but covers no pixel until the extraction asks for the progress display.
  ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOZORDER);

  m_pRunner = new (std::nothrow) CPackageRunner(m_hWnd);
  if (m_pRunner) m_pRunner->Start(app->m_strCmdLine, app->m_bShowUi);
  // Without a runner or a worker nothing would ever close the dialog: end it now (exit code 0).
  if (!m_pRunner || !m_pRunner->m_pThread) {
    delete m_pRunner;
    m_pRunner = nullptr;
    EndDialog(0);
  }
  return TRUE;
}

LRESULT CTesselDlg::OnSysCommand(WPARAM wParam, LPARAM lParam) {
  if ((wParam & 0xFFF0) == SC_CLOSE) return 0;
  return DefWindowProc(WM_SYSCOMMAND, wParam, lParam);
}

LRESULT CTesselDlg::OnPaint(WPARAM wParam, LPARAM lParam) {
  if (!IsIconic()) return DefWindowProc(WM_PAINT, wParam, lParam);
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(m_hWnd, &ps);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT rc;
  ::GetClientRect(m_hWnd, &rc);
  const int x = (rc.right - rc.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (rc.bottom - rc.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
  ::DrawIcon(dc, x, y, m_hIcon);
  ::EndPaint(m_hWnd, &ps);
  return 0;
}

LRESULT CTesselDlg::OnQueryDragIcon(WPARAM, LPARAM) { return reinterpret_cast<LRESULT>(m_hIcon); }

LRESULT CTesselDlg::OnTimerMessage(WPARAM wParam, LPARAM) {
  OnTimer(static_cast<UINT_PTR>(wParam));
  return 0;
}

LRESULT CTesselDlg::OnHideWindow(WPARAM, LPARAM) {
  ShowWindow(SW_HIDE);
  return 0;
}

LRESULT CTesselDlg::OnHelpInfo(WPARAM, LPARAM) { return TRUE; }

LRESULT CTesselDlg::OnClose(WPARAM, LPARAM) {
  if (m_pRunner) m_pRunner->StopWorker();
  delete m_pRunner;
  m_pRunner = nullptr;
  EndDialog(0);
  return 0;
}

void CTesselDlg::OnTimer(UINT_PTR nIDEvent) {
  if (nIDEvent == kProgressTimer) {
    if (m_progress.GetPos() < kProgressCeiling) m_progress.StepIt();
  } else if (nIDEvent == kWatchTimer) {
    WatchForInstaller();
  }
}

void CTesselDlg::WatchForInstaller() {
  const int slash = m_strWatchPath.ReverseFind(L'\\');
  const CString name = slash < 0 ? m_strWatchPath : m_strWatchPath.Mid(slash + 1);
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;  // try again at the next tick
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, name) == 0) {
      ShowWindow(SW_HIDE);
      if (m_nWatchTimer) {
        KillTimer(kWatchTimer);
        m_nWatchTimer = 0;
      }
      break;
    }
  }
  ::CloseHandle(snapshot);
}

void CTesselDlg::LayOutProgress() {
  ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOZORDER);
  RECT window;
  ::GetWindowRect(m_hWnd, &window);
  WINDOWINFO info{};
  info.cbSize = sizeof info;
  ::GetWindowInfo(m_hWnd, &info);
  TITLEBARINFO title{};
  title.cbSize = sizeof title;
  ::GetTitleBarInfo(m_hWnd, &title);
  int dpiX = 96, dpiY = 96;
  if (HDC screen = ::GetDC(nullptr)) {
    dpiX = ::GetDeviceCaps(screen, LOGPIXELSX);
    dpiY = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
  }
  auto sx = [dpiX](int v) { return ::MulDiv(v, dpiX, 96); };
  auto sy = [dpiY](int v) { return ::MulDiv(v, dpiY, 96); };
  int frameX = 2 * static_cast<int>(info.cxWindowBorders);
  int frameY = 2 * static_cast<int>(info.cyWindowBorders) + (title.rcTitleBar.bottom - title.rcTitleBar.top);
  if (static_cast<int>(info.cxWindowBorders) < 0 || static_cast<int>(info.cyWindowBorders) < 0 ||
      title.rcTitleBar.bottom < title.rcTitleBar.top) {
    // Some systems (Wine) report nonsense borders for a window collapsed to nothing; the frame of
    // this style is what they should have said.
    RECT frame{0, 0, 0, 0};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE)));
    frameX = frame.right - frame.left;
    frameY = frame.bottom - frame.top;
  }
  const int right = window.left + sx(399) + frameX;
  const int bottom = window.top + sy(89) + frameY;
  // The controls first: the window then appears already laid out, never with the template's layout.
  ::MoveWindow(GetDlgItem(IDC_PROGRESS), sx(22), sy(51), sx(355), sy(15), TRUE);
  HWND status = GetDlgItem(-1);
  ::MoveWindow(status, sx(22), sy(22), sx(150), sy(14), TRUE);
  CString text;
  LoadUiString(IDS_EXTRACTING, text);
  ::SetWindowTextW(status, text);
  m_progress.ShowWindow(SW_SHOW);
  m_progress.SetRange32(0, 1000);
  m_progress.SetStep(1);
  if (IsWindow()) {
    const int w = right - window.left, h = bottom - window.top;
    ::SetWindowPos(m_hWnd, nullptr, ::GetSystemMetrics(SM_CXSCREEN) / 2 - w / 2,
                   ::GetSystemMetrics(SM_CYSCREEN) / 2 - h / 2, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

LRESULT CTesselDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TSL_WARNING:
      ShowWarningBox(static_cast<UINT>(wParam), reinterpret_cast<const wchar_t*>(lParam));
      return 0;
    case WM_TSL_SHOWPROGRESS:
      LayOutProgress();
      return 0;
    case WM_TSL_STARTPROGRESS:
      m_nProgressTimer = SetTimer(kProgressTimer, 10);
      return 0;
    case WM_TSL_WATCHINSTALLER:
      if (wParam == 1) {
        m_nWatchTimer = SetTimer(kWatchTimer, 100);
      } else if (m_nWatchTimer) {
        KillTimer(kWatchTimer);
        m_nWatchTimer = 0;
      }
      return 0;
    case WM_TSL_SETPROGRESS:
      m_progress.SetPos(static_cast<int>(wParam));
      return 0;
    case WM_TSL_ASKUSER: {
      const auto* request = reinterpret_cast<const MessageRequest*>(lParam);
      if (!request) return 0;
      m_bAskShow = request->bShowMessageBox;
      m_bAskOkOnly = request->bOkOnly;
      m_strAskFolder = request->strFolder;
      m_strAskCaption = request->strCaption;
      return AskUser(m_bAskShow, m_bAskOkOnly, m_strAskFolder, m_strAskCaption) ? 1 : 0;
    }
    case WM_TSL_SETWATCHPATH:
      m_strWatchPath = reinterpret_cast<const wchar_t*>(lParam);
      return 0;
    case WM_TSL_SHOWRESULT:
      ReportResult(m_pRunner);
      return 0;
    default:
      return CDialog::WindowProc(message, wParam, lParam);
  }
}
