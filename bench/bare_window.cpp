// The least a GUI program started by wine64 does: it shows a window and ends. Its wall time is
// what the updater's own up-to-date run is compared with.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  HWND window = ::CreateWindowExA(0, "STATIC", "bench", WS_POPUP | WS_BORDER, 0, 0, 200, 60, nullptr, nullptr,
                                  ::GetModuleHandleA(nullptr), nullptr);
  if (!window) return 1;
  ::ShowWindow(window, show);
  ::UpdateWindow(window);
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
  ::DestroyWindow(window);
  return 0;
}
