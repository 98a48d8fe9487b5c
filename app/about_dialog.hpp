// The About box: the program's icon, name, version and copyright line. It handles no
// message itself; OK and Escape end it through the dialog's default handling.
#pragma once

#include "dialog.hpp"
#include "resource.h"

class AboutDialog : public Dialog {
 public:
  explicit AboutDialog(HWND owner) : Dialog(IDD_ABOUTBOX, owner) {}
};
