// A modal dialog on a resource template. The static dialog procedure finds the object
// through GWLP_USERDATA and hands every message to Handle(), which a derived class
// answers from its own message table before falling back to this one.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>

#include "message_table.hpp"

// The standard Help command, sent by F1 in any window of the program.
inline constexpr UINT ID_HELP = 0xE146;

class Dialog;

// Where the commands that no dialog handles go.
class CommandTarget {
 public:
  virtual ~CommandTarget() = default;
  // True when the command from `source` was handled.
  virtual bool OnCommand(UINT id, Dialog& source) = 0;
};

class Dialog {
 public:
  // `instance` holds the template; `caption` captions the boxes of the error boundary.
  Dialog(HINSTANCE instance, std::string caption, int templateId, HWND owner)
      : instance_(instance), caption_(std::move(caption)), templateId_(templateId), owner_(owner) {}
  virtual ~Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // The framework sends a command that no dialog handles, F1's Help among them, to one table
  // for the whole program, whichever window it came from; the application installs it here.
  static void SetCommandTarget(CommandTarget* target) { commandTarget_ = target; }

  // Runs the dialog until it ends; its result (IDOK, IDCANCEL), or -1 when it cannot be created.
  INT_PTR DoModal();

  HINSTANCE Instance() const { return instance_; }
  const std::string& Caption() const { return caption_; }
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

  static inline CommandTarget* commandTarget_ = nullptr;

  HINSTANCE instance_;
  std::string caption_;
  int templateId_;
  HWND owner_;
  HWND window_ = nullptr;
};
