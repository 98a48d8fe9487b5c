// A stand-in for the target program. Started, it appends its command line and a CR LF to
// "<own file name>.ran" beside itself and exits with 0.
//   --hold SECONDS   first opens its own file without sharing and keeps it open for SECONDS:
//                    under Wine a running program's file is otherwise still readable by others.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

#include "windows/win_handle.hpp"

namespace {

struct Arguments {
  Arguments() : argv(CommandLineToArgvW(GetCommandLineW(), &argc)) {}
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  ~Arguments() { LocalFree(argv); }
  int argc = 0;
  wchar_t** argv;
};

DWORD HoldSeconds() {
  Arguments args;
  for (int i = 1; i + 1 < args.argc; ++i) {
    if (std::wcscmp(args.argv[i], L"--hold") == 0)
      return static_cast<DWORD>(std::wcstoul(args.argv[i + 1], nullptr, 10));
  }
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t self[MAX_PATH * 4];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  if (length == 0 || length >= MAX_PATH * 4) return 2;

  DWORD hold = HoldSeconds();
  FileHandle own =
      hold > 0 ? OwnFile(CreateFileW(self, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) : FileHandle();
  if (hold > 0 && !own) return 3;

  {
    std::wstring marker = std::wstring(self) + L".ran";
    FileHandle ran = OwnFile(CreateFileW(marker.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_ALWAYS, 0, nullptr));
    if (!ran) return 4;
    std::string line = std::string(GetCommandLineA()) + "\r\n";
    DWORD written = 0;
    if (!WriteFile(ran.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) return 5;
  }

  if (hold > 0) Sleep(hold * 1000);
  return 0;
}
