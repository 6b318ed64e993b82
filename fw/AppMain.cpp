// The framework's WinMain: initialise the one application object and run it.
#include "fw/App.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, wchar_t* cmdLine, int) {
  CWinApp* app = AfxGetApp();
  if (!app) return 0;
  app->InitApplication(hInstance, cmdLine);
  if (!app->InitInstance()) return app->ExitInstance();
  return app->Run();
}
