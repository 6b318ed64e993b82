#pragma once
#include <string>

#include "fw/String.h"
#include "fw/Wnd.h"

class CPackageRunner;

// The progress dialog: the one window a run keeps open. It turns the worker's private messages into
// the progress display, warnings, the question, the watch for the payload and the result report.
class CTesselDlg : public CDialog {
 public:
  CTesselDlg();
  ~CTesselDlg() override;

  // The progress bar swallows key presses so that nothing but the worker ends the dialog.
  class CMyProgress : public CProgressCtrl {
   public:
    BOOL PreTranslateMessage(MSG* pMsg) override;
  };

  HICON m_hIcon;
  CString m_strAskCaption;
  std::wstring m_strAskFolder;
  BYTE m_bAskShow = 0;
  BYTE m_bAskOkOnly = 0;
  CMyProgress m_progress;
  CString m_strWatchPath;
  UINT_PTR m_nProgressTimer = 0;
  UINT_PTR m_nWatchTimer = 0;
  CPackageRunner* m_pRunner = nullptr;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL PreTranslateMessage(MSG* pMsg) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL OnInitDialog() override;
  virtual void OnTimer(UINT_PTR nIDEvent);

  LRESULT OnSysCommand(WPARAM wParam, LPARAM lParam);
  LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
  LRESULT OnQueryDragIcon(WPARAM wParam, LPARAM lParam);
  LRESULT OnTimerMessage(WPARAM wParam, LPARAM lParam);
  LRESULT OnHideWindow(WPARAM wParam, LPARAM lParam);
  LRESULT OnClose(WPARAM wParam, LPARAM lParam);
  LRESULT OnHelpInfo(WPARAM wParam, LPARAM lParam);
  DECLARE_MESSAGE_MAP()

 private:
  void LayOutProgress();
  void WatchForInstaller();
};
