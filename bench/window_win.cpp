// An empty GUI program that creates and destroys one top-level window, as every program with a
// dialog does: the floor of such a start under the same Wine (user32, the graphics driver, one window).
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HWND w = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, instance, nullptr);
  if (!w) return 1;
  DestroyWindow(w);
  return 0;
}
