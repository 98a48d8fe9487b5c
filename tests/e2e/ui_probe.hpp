// Finds the updater's windows from another process of the same Wine prefix, reads what
// they show and gives them input, as a person at the keyboard would.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace probe {

// A top-level dialog window (class "#32770") of another process, or nullptr.
HWND FindDialog(const std::wstring& caption);
// The progress window: a dialog without caption that shows the notice text.
HWND FindProgressWindow();

// Poll every millisecond; nullptr (false) when nothing turned up within limitMs.
HWND WaitForDialog(const std::wstring& caption, DWORD limitMs);
HWND WaitForProgressWindow(DWORD limitMs);
// True when the window is gone within limitMs.
bool WaitUntilGone(HWND window, DWORD limitMs);
// Whether the dialog with this caption stays absent for the whole period.
bool StaysAbsent(const std::wstring& caption, DWORD periodMs);

std::wstring Caption(HWND window);
// A message box's text (control 0xFFFF).
std::wstring BoxText(HWND box);

struct Control {
  int id;
  std::wstring className;
  std::wstring text;
  LONG style;
};
// The child windows in tab order.
std::vector<Control> Controls(HWND dialog);

// Keys as the dialog's message loop receives them.
void PostKey(HWND window, UINT virtualKey);
// A real key press through the input system, to the window brought to the foreground.
void PressKey(HWND window, UINT virtualKey);
void PostSysCommand(HWND window, UINT command);
void Click(HWND dialog, int buttonId);

}  // namespace probe
