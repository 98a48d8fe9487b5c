#include "dialog.hpp"

#include <exception>
#include <new>

#include "error_report.hpp"
#include "file_error.hpp"

namespace {

// Dialog templates carry no position: a dialog is centred over its owner, or in the work
// area of its screen when it has none.
void Centre(HWND window) {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT work = monitor.rcWork;
  RECT area = work;
  const HWND owner = GetWindow(window, GW_OWNER);
  if (owner != nullptr && !IsIconic(owner)) GetWindowRect(owner, &area);

  RECT self{};
  GetWindowRect(window, &self);
  const LONG width = self.right - self.left;
  const LONG height = self.bottom - self.top;
  LONG x = area.left + (area.right - area.left - width) / 2;
  LONG y = area.top + (area.bottom - area.top - height) / 2;
  // Over an owner near the edge, keep the whole dialog on the screen.
  if (x + width > work.right) x = work.right - width;
  if (y + height > work.bottom) y = work.bottom - height;
  if (x < work.left) x = work.left;
  if (y < work.top) y = work.top;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

INT_PTR Dialog::DoModal() {
  return DialogBoxParamA(instance_, MAKEINTRESOURCEA(templateId_), owner_, &Dialog::Procedure,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
    reinterpret_cast<Dialog*>(lParam)->window_ = window;
  }
  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr) return FALSE;  // messages before WM_INITDIALOG

  // No exception may unwind through the window manager: the two that handlers can raise
  // are reported here, and the window carries on as it was.
  try {
    return self->Handle(message, wParam, lParam).value_or(FALSE);
  } catch (const FileError& error) {
    ReportFileError(window, self->caption_, error);
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory(window, self->caption_);
  } catch (...) {
    std::terminate();  // a programming fault; stop here rather than unwind through user32
  }
  return FALSE;
}

std::optional<INT_PTR> Dialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  // One line per message, as the handler table reads.
  // clang-format off
  static constexpr MessageEntry<Dialog> kMessages[] = {
      Message(WM_INITDIALOG, &Dialog::OnInitDialog),
      Command(IDOK, &Dialog::OnOkCommand),
      Command(IDCANCEL, &Dialog::OnCancelCommand),  // also Escape and closing through the system
      Message(WM_HELP, &Dialog::OnHelpInfo),        // F1
      Message(WM_COMMAND, &Dialog::OnOtherCommand), // any other command
  };
  // clang-format on
  return Route(kMessages, *this, message, wParam, lParam);
}

INT_PTR Dialog::OnInitDialog(WPARAM, LPARAM) {
  Centre(window_);
  return TRUE;  // set the default focus
}

INT_PTR Dialog::OnOkCommand(WPARAM, LPARAM) {
  OnOK();
  return TRUE;
}

INT_PTR Dialog::OnCancelCommand(WPARAM, LPARAM) {
  OnCancel();
  return TRUE;
}

INT_PTR Dialog::OnHelpInfo(WPARAM, LPARAM) {
  SendMessageA(window_, WM_COMMAND, MAKEWPARAM(ID_HELP, 0), 0);
  return TRUE;
}

// Commands no dialog handles go to the application's command table.
INT_PTR Dialog::OnOtherCommand(WPARAM wParam, LPARAM) {
  if (HIWORD(wParam) > 1) return FALSE;
  return commandTarget_ != nullptr && commandTarget_->OnCommand(LOWORD(wParam), *this) ? TRUE : FALSE;
}
