#include "system_menu.hpp"

void AppendAboutEntry(HWND window, HINSTANCE resources, UINT labelId, UINT command) {
  const HMENU menu = GetSystemMenu(window, FALSE);  // owned by the window
  if (menu == nullptr) return;
  char label[256] = {};
  if (LoadStringA(resources, labelId, label, static_cast<int>(sizeof label)) == 0) return;
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, command, label);
}
