#pragma once
#include "fw/Wnd.h"

// PLACEHOLDER until the progress dialog lands: a dialog on template 102 that closes itself at once.
class CTesselDlg : public CDialog {
 public:
  CTesselDlg();
  BOOL OnInitDialog() override;
};
