// The one application object of the stub. It lives in the executable itself (not in the library the
// tests share), so that the linker always keeps it.
#include "app/TesselApp.h"

CTesselApp theApp;
