#pragma once
// One run of the program, from extraction to result, and the private messages its worker thread
// sends or posts to the progress dialog.
#include <windows.h>

#include <string>

#include "fw/String.h"
#include "fw/Thread.h"

// Private window messages, all to CPackageRunner::m_hWndNotify.
constexpr UINT WM_TSL_HIDE = 0x8100;            // posted: hide the progress window
constexpr UINT WM_TSL_WARNING = 0x8101;         // 101 sent with the drive text; 102..104 posted
constexpr UINT WM_TSL_SHOWPROGRESS = 0x8102;    // sent: lay out and show the progress display
constexpr UINT WM_TSL_STARTPROGRESS = 0x8103;   // sent: start the progress creep
constexpr UINT WM_TSL_WATCHINSTALLER = 0x8104;  // sent: 1 starts the process watch, other values stop it
constexpr UINT WM_TSL_SETPROGRESS = 0x8105;     // posted: wParam is the new bar position
constexpr UINT WM_TSL_ASKUSER = 0x8106;         // sent: lParam -> MessageRequest; result 1 = go on
constexpr UINT WM_TSL_SETWATCHPATH = 0x8107;    // sent: lParam -> path whose file name is watched for
constexpr UINT WM_TSL_SHOWRESULT = 0x8301;      // sent: show the result report

// Warning codes carried in wParam of WM_TSL_WARNING.
constexpr WPARAM kWarnNoDiskSpace = 101;
constexpr WPARAM kWarnNotHalvoComputer = 102;
constexpr WPARAM kWarnNoCabinetLibrary = 103;
constexpr WPARAM kWarnNotAdministrator = 104;

struct MessageRequest {
  BYTE bShowMessageBox;
  BYTE bOkOnly;
  std::wstring strFolder;
  CString strCaption;
};

class CPackageRunner {
 public:
  explicit CPackageRunner(HWND hWndNotify);
  ~CPackageRunner();
  CPackageRunner(const CPackageRunner&) = delete;
  CPackageRunner& operator=(const CPackageRunner&) = delete;

  CString GetProductName() const { return m_strProductName; }

  // Worker thread.
  int Start(const wchar_t* cmdLine, BYTE showUi);
  DWORD StopWorker();

  // First half of the run: work folder, package, settings step, cabinet.
  bool RunExtraction(bool showUi);
  // Second half: settings, checks, question, launch, result, clean-up. Always 1.
  int RunInstall(const CString& cmdLine);
  bool ReadMessageSettings();
  bool LaunchPayload(std::wstring installerPath, std::wstring arguments);

  // Settings.
  bool ReadParamOption(const wchar_t* key, std::wstring& value, const std::wstring& iniPath);
  bool ReadSetting(const wchar_t* key, std::wstring& value, const std::wstring& iniPath);
  bool DecryptSettingValue(const CString& stored, CString& plain);
  bool PayloadModuleExists() const;
  bool ComputeKeyText(CString& keyText);

  // The private messages: skipped while there is no window to tell.
  LRESULT Notify(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  void NotifyPosted(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

  HWND m_hWndNotify;
  BYTE m_bExtracted = 0;
  BYTE m_bShowMessageBox = 0;
  BYTE m_bOkOnly = 0;
  BYTE m_bRunInstaller = 1;
  BYTE m_bToUserFolder = 0;
  std::wstring m_strWorkDir;
  std::wstring m_strUserDir;
  CString m_strProductName;
  CString m_strElevation;
  CWinThread* m_pThread = nullptr;
  CString m_strShowResult;
  CString m_strSuccessCode;
  CString m_strRunGuid;
  BYTE m_bShowUi = 0;
  CString m_strCmdLine;
  CString m_strKeyText;
  // The run folder was made by this run: the install run reads and starts nothing from anywhere else.
  BYTE m_bRunFolderMade = 0;

 private:
  bool ReadProfileValue(const wchar_t* section, const wchar_t* key, std::wstring& value,
                        const std::wstring& iniPath);
  // The module file the key text was computed from: while it is unchanged the key is reused.
  struct ModuleStamp {
    bool valid = false;
    DWORD volume = 0, indexHigh = 0, indexLow = 0, sizeHigh = 0, sizeLow = 0;
    FILETIME lastWrite{};
  } m_keyStamp;
  // The installer file, held open (no writers, no deleters) from its checksum until it has started.
  HANDLE m_hCheckedInstaller = INVALID_HANDLE_VALUE;
  void ReleaseCheckedInstaller();
};

// The worker thread's function; the parameter is the runner.
UINT __cdecl WorkerThreadProc(LPVOID param);

// How many times this process has read the payload module to compute a settings key.
int SettingsKeyComputations();
