#include "phase_log.hpp"

#include <windows.h>

#include <cstdio>

#include "install_probe.hpp"
#include "win_handle.hpp"

void MarkPhase(const char* phase) {
  LARGE_INTEGER now{}, frequency{};
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  char line[96];
  const int length = std::snprintf(line, sizeof line, "%s %lld\r\n", phase,
                                   static_cast<long long>(now.QuadPart * 1000000 / frequency.QuadPart));
  const std::string path = GetInstallDir() + "\\merovast-phases.log";
  FileHandle log = OwnFile(::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (log && length > 0) ::WriteFile(log.get(), line, static_cast<DWORD>(length), &written, nullptr);
}
