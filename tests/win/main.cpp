// Entry of the Windows unit tests (console, wide command line). The tests share the stub's code,
// which reaches the application object through AfxGetApp(), so they have one too.
#include <gtest/gtest.h>

#include "app/TesselApp.h"

CTesselApp theApp;

int wmain(int argc, wchar_t** argv) {
  theApp.InitApplication(::GetModuleHandleW(nullptr), const_cast<wchar_t*>(L""));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
