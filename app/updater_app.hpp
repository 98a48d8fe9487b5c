// The updater's application object: shows the progress window, and the process ends
// when it closes.
#pragma once

#include "application.hpp"

class UpdaterApp : public Application {
 public:
  using Application::Application;

  bool OnCommand(UINT id, Dialog& source) override;

 protected:
  void InitInstance() override;
};
