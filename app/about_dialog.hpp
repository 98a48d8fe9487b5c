// The About box: the program's icon, name, version and copyright line. It handles no
// message itself; OK and Escape end it through the dialog's default handling.
#pragma once

#include "dialog.hpp"
#include "resource.h"

class AboutDialog : public Dialog {
 public:
  AboutDialog(HINSTANCE instance, const std::string& caption, HWND owner)
      : Dialog(instance, caption, IDD_ABOUTBOX, owner) {}
};
