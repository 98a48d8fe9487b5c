// The target of the benchmark's releases: small, so that a release of many files is made of
// files of one size. Started, it appends a line to "<own file name>.ran" beside itself, which
// tells the benchmark that the updater's run is over.
#include <windows.h>

#include "windows/win_handle.hpp"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char marker[MAX_PATH + 8];
  const DWORD length = ::GetModuleFileNameA(nullptr, marker, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 2;
  ::lstrcatA(marker, ".ran");
  const FileHandle file = OwnFile(
      ::CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr));
  if (!file) return 4;
  DWORD written = 0;
  return ::WriteFile(file.get(), "ran\r\n", 5, &written, nullptr) ? 0 : 5;
}
