// Process entry: the single application object runs, then the process ends.
#include <windows.h>

#include "updater_app.hpp"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  UpdaterApp app(instance);
  return app.Run();
}
