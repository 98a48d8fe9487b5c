// The progress window: a small notice that stays up while the update runs once, shortly
// after the window is shown, and that closes when the target has been started or the
// failure has been reported.
#pragma once

#include <string>

#include "dialog.hpp"
#include "win_handles.hpp"

class ProgressDialog : public Dialog {
 public:
  ProgressDialog(HINSTANCE instance, const std::string& caption);

 protected:
  std::optional<INT_PTR> Handle(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  INT_PTR OnInitDialog(WPARAM, LPARAM);
  INT_PTR OnPaint(WPARAM, LPARAM);
  INT_PTR OnQueryDragIcon(WPARAM, LPARAM);
  INT_PTR OnTimer(WPARAM, LPARAM);
  INT_PTR OnOkCommand(WPARAM, LPARAM);
  INT_PTR OnSysCommand(WPARAM, LPARAM);

  // Runs the update, then starts the target or reports the failure; ends the dialog.
  // 1 on success, 0 on failure.
  int RunUpdateAndLaunch();

  Icon icon_;
};
