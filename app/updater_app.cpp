#include "updater_app.hpp"

#include "dialog.hpp"
#include "progress_dialog.hpp"

bool UpdaterApp::OnCommand(UINT id, Dialog& source) {
  static constexpr CommandEntry<UpdaterApp> kCommands[] = {
      {ID_HELP, &UpdaterApp::OnHelp},  // F1 in either window
  };
  return RouteCommand(kCommands, *this, id, source);
}

void UpdaterApp::InitInstance() {
  ProgressDialog dialog(Instance(), Title());
  SetMainWindow(&dialog);
  dialog.DoModal();  // its result does not matter
  SetMainWindow(nullptr);
}
