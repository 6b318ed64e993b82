#pragma once
#include "fw/App.h"
#include "fw/String.h"

// The application object: owns the command line, the interactive flag and what the run reports back.
class CTesselApp : public CWinApp {
 public:
  CTesselApp();
  ~CTesselApp() override;

  BOOL InitInstance() override;
  int ExitInstance() override;

  CString GetShowResult() const { return m_strShowResult; }
  CString GetSuccessCode() const { return m_strSuccessCode; }

  CString m_strCmdLine;
  BYTE m_bShowUi = 1;
  DWORD m_dwExitCode = 0;
  CString m_strShowResult;
  CString m_strSuccessCode;
};

// The one application object, typed.
CTesselApp* TesselApp();

// Registry location written by the update agent; read for the silent decision and the launch mode.
extern const wchar_t kAgentKey[];
