#include "ui_probe.hpp"

#include <functional>
#include <utility>

namespace probe {
namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kNotice[] = L"系统正在初始化，请稍侯...";

std::wstring TextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

bool IsOtherProcessDialog(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process != GetCurrentProcessId() && IsWindowVisible(window) && ClassOf(window) == kDialogClass;
}

struct Search {
  std::function<bool(HWND)> accept;
  HWND found = nullptr;
};

BOOL CALLBACK Visit(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<Search*>(context);
  if (!search.accept(window)) return TRUE;
  search.found = window;
  return FALSE;
}

// The first top-level window that `accept` takes.
HWND FindTopLevel(std::function<bool(HWND)> accept) {
  Search search{std::move(accept)};
  EnumWindows(&Visit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND Poll(const std::function<HWND()>& find, DWORD limitMs) {
  const ULONGLONG deadline = GetTickCount64() + limitMs;
  for (;;) {
    if (HWND window = find()) return window;
    if (GetTickCount64() >= deadline) return nullptr;
    Sleep(1);
  }
}

}  // namespace

HWND FindDialog(const std::wstring& caption) {
  return FindTopLevel([&](HWND w) { return IsOtherProcessDialog(w) && TextOf(w) == caption; });
}

HWND FindProgressWindow() {
  return FindTopLevel([](HWND w) {
    if (!IsOtherProcessDialog(w) || !TextOf(w).empty()) return false;
    for (const Control& control : Controls(w)) {
      if (control.text == kNotice) return true;
    }
    return false;
  });
}

HWND WaitForDialog(const std::wstring& caption, DWORD limitMs) {
  return Poll([&] { return FindDialog(caption); }, limitMs);
}

HWND WaitForProgressWindow(DWORD limitMs) { return Poll(FindProgressWindow, limitMs); }

bool WaitUntilGone(HWND window, DWORD limitMs) {
  return Poll([&]() -> HWND { return IsWindow(window) ? nullptr : GetDesktopWindow(); }, limitMs) != nullptr;
}

bool StaysAbsent(const std::wstring& caption, DWORD periodMs) { return WaitForDialog(caption, periodMs) == nullptr; }

std::wstring Caption(HWND window) { return TextOf(window); }

std::wstring BoxText(HWND box) {
  HWND text = GetDlgItem(box, 0xFFFF);
  return text != nullptr ? TextOf(text) : std::wstring();
}

std::vector<Control> Controls(HWND dialog) {
  std::vector<Control> controls;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    controls.push_back({static_cast<int>(static_cast<short>(GetDlgCtrlID(child))), ClassOf(child), TextOf(child),
                        GetWindowLongW(child, GWL_STYLE)});
  }
  return controls;
}

void PostKey(HWND window, UINT virtualKey) {
  const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
  PostMessageW(window, WM_KEYDOWN, virtualKey, static_cast<LPARAM>(1 | (scan << 16)));
  PostMessageW(window, WM_KEYUP, virtualKey, static_cast<LPARAM>(1 | (scan << 16) | (3u << 30)));
}

void PressKey(HWND window, UINT virtualKey) {
  SetForegroundWindow(window);
  INPUT inputs[2] = {};
  for (INPUT& input : inputs) {
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = static_cast<WORD>(virtualKey);
  }
  inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, inputs, sizeof(INPUT));
}

void PostSysCommand(HWND window, UINT command) { PostMessageW(window, WM_SYSCOMMAND, command, 0); }

void Click(HWND dialog, int buttonId) {
  if (HWND button = GetDlgItem(dialog, buttonId)) PostMessageW(button, BM_CLICK, 0, 0);
}

}  // namespace probe
