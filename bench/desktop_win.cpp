// Holds a hidden window open for the length of the benchmark, so that Wine's desktop process stays up
// between runs as a Windows desktop does; otherwise the first window of every run would pay for
// starting it. Ends when the Wine session is shut down.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HWND w = CreateWindowExA(0, "STATIC", "tessel-bench-desktop", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           instance, nullptr);
  if (!w) return 1;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}
