#pragma once
// The program's own message box: one message under a caption, one or two buttons, sized to its
// text and scaled for the screen's DPI, with a white panel above the button row.
#include <windows.h>

#include "fw/String.h"
#include "fw/Wnd.h"

class CNormalMessageBox : public CDialog {
 public:
  CNormalMessageBox();
  ~CNormalMessageBox() override;

  // button1 is the right-hand button (1001), button2 the left-hand one (1000); null counts as empty.
  // With both set, the box answers IDYES (left) or IDNO (right); with one, its button answers IDOK.
  // Closing the box answers IDCANCEL.
  void SetContent(const wchar_t* message, const wchar_t* caption, const wchar_t* button1, const wchar_t* button2);

  BOOL PreTranslateMessage(MSG* pMsg) override;
  BOOL OnInitDialog() override;


 protected:
  // Lengths in 96-DPI units, computed once by OnInitDialog.
  int m_nTextHeight = 0;
  int m_nTextWidth = 0;
  int m_nClientWidth = 0;   // m_nTextWidth + 44
  int m_nPanelHeight = 0;   // m_nTextHeight + 44
  int m_nButtonTop = 0;     // m_nPanelHeight + 10
  CString m_strMessage;
  CString m_strCaption;
  CString m_strButton1;
  CString m_strButton2;
  CString m_strCheckText;  // always empty: the check box stays hidden
  HFONT m_fontMessage = nullptr;
  HFONT m_fontButton = nullptr;
  HFONT m_fontCheck = nullptr;
  HBRUSH m_brushPanel = nullptr;
  int m_nDpiX = 96;
  int m_nDpiY = 96;
  int m_bHighContrast = 0;

  LRESULT OnButtonLeft(WPARAM, LPARAM);
  LRESULT OnButtonRight(WPARAM, LPARAM);
  LRESULT OnPaint(WPARAM, LPARAM);
  template <UINT kMessage>
  LRESULT OnCtlColor(WPARAM wParam, LPARAM lParam) {
    return CtlColor(kMessage, wParam, lParam);
  }
  LRESULT CtlColor(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnHelp(WPARAM, LPARAM);
  LRESULT OnSysCommand(WPARAM, LPARAM);
  LRESULT OnSettingChange(WPARAM, LPARAM);
  DECLARE_MESSAGE_MAP()

 private:
  void CreateFonts();
  void ReadHighContrast();
  int ScaleX(int length) const;
  int ScaleY(int length) const;
};
