#pragma once

#include <windows.h>

// Appends a separator and an entry labelled with string `labelId` of `resources`, with
// the system command `command`, to the window's system menu. Does nothing when the window
// has no system menu or the label is empty.
void AppendAboutEntry(HWND window, HINSTANCE resources, UINT labelId, UINT command);
