#include "app/TesselDlg.h"

#include "res/resource.h"

// PLACEHOLDER until the progress dialog lands: it ends itself as soon as it exists.
CTesselDlg::CTesselDlg() : CDialog(IDD_TESSEL_DIALOG) {}

BOOL CTesselDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOZORDER);
  EndDialog(0);
  return TRUE;
}
