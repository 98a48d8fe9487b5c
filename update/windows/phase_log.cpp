#include "phase_log.hpp"

#include <windows.h>

#include <cstdio>

#include "install_probe.hpp"
#include "win_handle.hpp"

void MarkPhase(const char* phase) {
  LARGE_INTEGER now{}, frequency{};
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  // Whole seconds and the rest apart: the counter times a million overflows after days of uptime.
  const long long micros =
      now.QuadPart / frequency.QuadPart * 1000000 + now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
  char line[96];
  const int length = std::snprintf(line, sizeof line, "%s %lld\r\n", phase, micros);
  // Opened once: an open per mark would add its own cost to the step it ends.
  static const FileHandle log =
      OwnFile(::CreateFileA((GetInstallDir() + "\\merovast-phases.log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (log && length > 0) ::WriteFile(log.get(), line, static_cast<DWORD>(length), &written, nullptr);
}
