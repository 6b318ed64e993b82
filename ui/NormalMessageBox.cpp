#include "ui/NormalMessageBox.h"

#include <string>

#include "res/resource.h"
#include "ui/Strings.h"
#include "ui/portable/MessageBoxLayout.h"

BEGIN_MESSAGE_MAP(CNormalMessageBox, CDialog)
  ON_COMMAND_ID(IDC_MSGBOX_BUTTON2, OnButtonLeft)
  ON_COMMAND_ID(IDC_MSGBOX_BUTTON1, OnButtonRight)
  ON_MESSAGE(WM_PAINT, OnPaint)
  ON_MESSAGE(WM_CTLCOLORMSGBOX, OnCtlColor<WM_CTLCOLORMSGBOX>)
  ON_MESSAGE(WM_CTLCOLOREDIT, OnCtlColor<WM_CTLCOLOREDIT>)
  ON_MESSAGE(WM_CTLCOLORLISTBOX, OnCtlColor<WM_CTLCOLORLISTBOX>)
  ON_MESSAGE(WM_CTLCOLORBTN, OnCtlColor<WM_CTLCOLORBTN>)
  ON_MESSAGE(WM_CTLCOLORDLG, OnCtlColor<WM_CTLCOLORDLG>)
  ON_MESSAGE(WM_CTLCOLORSCROLLBAR, OnCtlColor<WM_CTLCOLORSCROLLBAR>)
  ON_MESSAGE(WM_CTLCOLORSTATIC, OnCtlColor<WM_CTLCOLORSTATIC>)
  ON_MESSAGE(WM_HELP, OnHelp)
  ON_MESSAGE(WM_SYSCOMMAND, OnSysCommand)
  ON_MESSAGE(WM_SETTINGCHANGE, OnSettingChange)
END_MESSAGE_MAP()

namespace {

std::wstring TextOf(const CString& s) { return s.Str(); }

int MeasureWidth(HDC dc, const std::wstring& text) {
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

void PlaceControl(HWND control, int x, int y, int cx, int cy, HFONT font, const wchar_t* text) {
  if (!control) return;
  ::MoveWindow(control, x, y, cx, cy, TRUE);
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  ::SetWindowTextW(control, text);
  ::ShowWindow(control, SW_SHOW);
}

void HideControl(HWND control) {
  if (control) ::ShowWindow(control, SW_HIDE);
}

}  // namespace

CNormalMessageBox::CNormalMessageBox() : CDialog(IDD_NORMAL_MESSAGEBOX, nullptr) {
  if (HDC screen = ::GetDC(nullptr)) {
    m_nDpiX = ::GetDeviceCaps(screen, LOGPIXELSX);
    m_nDpiY = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
  }
  // A device that reports no DPI would make every length zero; treat it as the standard 96.
  if (m_nDpiX <= 0) m_nDpiX = 96;
  if (m_nDpiY <= 0) m_nDpiY = 96;
  m_brushPanel = ::CreateSolidBrush(RGB(255, 255, 255));
}

CNormalMessageBox::~CNormalMessageBox() {
  for (HFONT* font : {&m_fontMessage, &m_fontButton, &m_fontCheck}) {
    if (*font) ::DeleteObject(*font);
    *font = nullptr;
  }
  if (m_brushPanel) ::DeleteObject(m_brushPanel);
  m_brushPanel = nullptr;
}

void CNormalMessageBox::SetContent(const wchar_t* message, const wchar_t* caption, const wchar_t* button1,
                                   const wchar_t* button2) {
  m_strMessage = message;
  m_strCaption = caption;
  m_strButton1 = button1;
  m_strButton2 = button2;
  m_strCheckText.Empty();
}

int CNormalMessageBox::ScaleX(int length) const { return ::MulDiv(length, m_nDpiX, 96); }
int CNormalMessageBox::ScaleY(int length) const { return ::MulDiv(length, m_nDpiY, 96); }

void CNormalMessageBox::ReadHighContrast() {
  HIGHCONTRASTW hc{};
  hc.cbSize = sizeof hc;
  m_bHighContrast = ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof hc, &hc, 0) &&
                    (hc.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void CNormalMessageBox::CreateFonts() {
  // Windows XP has neither Segoe UI nor Meiryo everywhere: it gets its own face name.
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
  bool isXp = false;
  if (::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)))
    isXp = version.dwMajorVersion == 5 && version.dwMinorVersion == 1;
  const CString face = LoadStringOrEnglish(isXp ? IDS_FONT_FACE_XP : IDS_FONT_FACE);

  int logPixelsY = m_nDpiY;
  if (HDC dc = ::GetDC(m_hWnd)) {
    logPixelsY = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(m_hWnd, dc);
  }
  const int height = -::MulDiv(9, logPixelsY, 72);
  auto make = [&] {
    return ::CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS, face);
  };
  m_fontMessage = make();
  m_fontButton = make();
  m_fontCheck = make();
}

BOOL CNormalMessageBox::OnInitDialog() {
  CDialog::OnInitDialog();
  ReadHighContrast();
  CreateFonts();

  msgbox::LayoutInput input;
  input.message = TextOf(m_strMessage);
  input.button1 = TextOf(m_strButton1);
  input.button2 = TextOf(m_strButton2);
  input.screenWidthPx = ::GetSystemMetrics(SM_CXSCREEN);
  input.dpiX = m_nDpiX;
  input.dpiY = m_nDpiY;

  // Every length comes from text extents in the message font, measured once here.
  msgbox::Layout layout;
  if (HDC dc = ::GetDC(m_hWnd)) {
    HGDIOBJ old = m_fontMessage ? ::SelectObject(dc, m_fontMessage) : nullptr;
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, m_strMessage, m_strMessage.GetLength(), &extent);
    input.lineHeightPx = extent.cy;
    layout = msgbox::ComputeLayout(input, [dc](const std::wstring& s) { return MeasureWidth(dc, s); });
    if (old) ::SelectObject(dc, old);
    ::ReleaseDC(m_hWnd, dc);
  } else {
    layout = msgbox::ComputeLayout(input, [](const std::wstring&) { return 0; });
  }
  m_nTextWidth = layout.textWidth;
  m_nTextHeight = layout.textHeight;
  m_nPanelHeight = layout.panelHeight;
  m_nClientWidth = layout.clientWidth;
  m_nButtonTop = layout.buttonTop;

  PlaceControl(GetDlgItem(IDC_MSGBOX_TEXT), ScaleX(msgbox::kMargin), ScaleY(msgbox::kMargin), ScaleX(m_nTextWidth),
               ScaleY(m_nTextHeight), m_fontMessage, m_strMessage);

  // The check box is never given a text, so it takes no room.
  if (m_strCheckText.IsEmpty()) HideControl(GetDlgItem(IDC_MSGBOX_CHECK));

  const int buttonHeight = ScaleY(msgbox::kButtonHeight);
  PlaceControl(GetDlgItem(IDC_MSGBOX_BUTTON1), ScaleX(layout.right.x), ScaleY(m_nButtonTop), ScaleX(layout.right.width),
               buttonHeight, m_fontButton, layout.right.label.c_str());
  if (layout.left.shown) {
    PlaceControl(GetDlgItem(IDC_MSGBOX_BUTTON2), ScaleX(layout.left.x), ScaleY(m_nButtonTop),
                 ScaleX(layout.left.width), buttonHeight, m_fontButton, layout.left.label.c_str());
  } else {
    HideControl(GetDlgItem(IDC_MSGBOX_BUTTON2));
  }

  // Size the frame so that the client area is exactly the laid-out box; the top-left corner stays,
  // so the framework's centring still applies.
  RECT rc{};
  ::GetWindowRect(m_hWnd, &rc);
  WINDOWINFO info{};
  info.cbSize = sizeof info;
  ::GetWindowInfo(m_hWnd, &info);
  TITLEBARINFO title{};
  title.cbSize = sizeof title;
  ::GetTitleBarInfo(m_hWnd, &title);
  const int width = ScaleX(m_nClientWidth) + 2 * static_cast<int>(info.cxWindowBorders);
  const int height = ScaleY(m_nButtonTop + msgbox::kButtonRowHeight) + 2 * static_cast<int>(info.cyWindowBorders) +
                     (title.rcTitleBar.bottom - title.rcTitleBar.top);
  if (IsWindow()) ::MoveWindow(m_hWnd, rc.left, rc.top, width, height, TRUE);
  SetWindowText(m_strCaption);
  return TRUE;
}

BOOL CNormalMessageBox::PreTranslateMessage(MSG* pMsg) {
  // Escape must not close the box: only a button or the close command answers it.
  if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_ESCAPE) return TRUE;
  return CDialog::PreTranslateMessage(pMsg);
}

LRESULT CNormalMessageBox::OnButtonLeft(WPARAM, LPARAM) {
  EndDialog(IDYES);
  return 0;
}

LRESULT CNormalMessageBox::OnButtonRight(WPARAM, LPARAM) {
  EndDialog(!m_strButton1.IsEmpty() && !m_strButton2.IsEmpty() ? IDNO : IDOK);
  return 0;
}

LRESULT CNormalMessageBox::OnPaint(WPARAM, LPARAM) {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(m_hWnd, &ps);
  ReadHighContrast();
  if (!m_bHighContrast && dc) {
    RECT panel{0, 0, ScaleX(m_nClientWidth), ScaleY(m_nPanelHeight)};
    ::FillRect(dc, &panel, m_brushPanel);
  }
  ::EndPaint(m_hWnd, &ps);
  return 0;
}

LRESULT CNormalMessageBox::CtlColor(UINT message, WPARAM wParam, LPARAM lParam) {
  HDC dc = reinterpret_cast<HDC>(wParam);
  ReadHighContrast();
  if (m_bHighContrast) {
    ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
  }
  if (message == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(lParam) == GetDlgItem(IDC_MSGBOX_TEXT)) {
    ::SetBkColor(dc, RGB(255, 255, 255));
    return reinterpret_cast<LRESULT>(m_brushPanel);
  }
  return DefWindowProc(message, wParam, lParam);
}

LRESULT CNormalMessageBox::OnHelp(WPARAM, LPARAM) { return TRUE; }

LRESULT CNormalMessageBox::OnSysCommand(WPARAM wParam, LPARAM lParam) {
  if ((wParam & 0xFFF0) == SC_CLOSE) {
    EndDialog(IDCANCEL);
    return 0;
  }
  return DefWindowProc(WM_SYSCOMMAND, wParam, lParam);
}

LRESULT CNormalMessageBox::OnSettingChange(WPARAM wParam, LPARAM lParam) {
  const LRESULT result = DefWindowProc(WM_SETTINGCHANGE, wParam, lParam);
  // High contrast may have been switched: repaint everything with the colours read anew.
  Invalidate(TRUE);
  return result;
}
