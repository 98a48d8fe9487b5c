// A modal dialog on a resource template. The static dialog procedure finds the object
// through GWLP_USERDATA and hands every message to Handle(), which a derived class
// answers from its own message table before falling back to this one.
#pragma once

#include <windows.h>

#include <optional>

#include "message_table.hpp"

// The standard Help command, sent by F1 in any window of the program.
inline constexpr UINT ID_HELP = 0xE146;

class Dialog {
 public:
  Dialog(int templateId, HWND owner) : templateId_(templateId), owner_(owner) {}
  virtual ~Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Runs the dialog until it ends; its result (IDOK, IDCANCEL), or -1 when it cannot be created.
  INT_PTR DoModal();

  int TemplateId() const { return templateId_; }
  HWND Window() const { return window_; }

 protected:
  virtual std::optional<INT_PTR> Handle(UINT message, WPARAM wParam, LPARAM lParam);

  // The dialog's own initialisation: centres the window. Derived classes call it first.
  INT_PTR OnInitDialog(WPARAM, LPARAM);
  // The framework's own OK and Cancel handling.
  void OnOK() { EndDialog(window_, IDOK); }
  void OnCancel() { EndDialog(window_, IDCANCEL); }

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  INT_PTR OnOkCommand(WPARAM, LPARAM);
  INT_PTR OnCancelCommand(WPARAM, LPARAM);
  INT_PTR OnHelpInfo(WPARAM, LPARAM);
  INT_PTR OnOtherCommand(WPARAM, LPARAM);

  int templateId_;
  HWND owner_;
  HWND window_ = nullptr;
};
