// Keeps a file open without sharing, so that it looks "open elsewhere" to the program under
// test (Wine's sharing checks see only Windows processes of the same prefix).
//   holdfile PATH [--seconds N] [--until FILE] [--ready FILE] [--share-write 1]
// With --share-write, holds it for writing as an application holds its log: others may read
// and write it too.
// Holds PATH until N seconds (default 30) have passed or FILE exists; creates the --ready
// file once the hold is in place. Exit code 0, or 2 when PATH cannot be opened.
#include <windows.h>

#include <cwchar>
#include <string>

#include "windows/win_handle.hpp"

namespace {

bool Exists(const std::wstring& path) {
  return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputws(L"usage: holdfile PATH [--seconds N] [--until FILE] [--ready FILE]\n", stderr);
    return 1;
  }
  DWORD seconds = 30;
  std::wstring until;
  std::wstring ready;
  bool shareWrite = false;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::wcscmp(argv[i], L"--seconds") == 0) seconds = static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10));
    if (std::wcscmp(argv[i], L"--until") == 0) until = argv[i + 1];
    if (std::wcscmp(argv[i], L"--ready") == 0) ready = argv[i + 1];
    if (std::wcscmp(argv[i], L"--share-write") == 0) shareWrite = true;
  }

  FileHandle held =
      OwnFile(shareWrite ? CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr)
                         : CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!held) {
    std::fwprintf(stderr, L"holdfile: cannot open %ls (error %lu)\n", argv[1], GetLastError());
    return 2;
  }
  if (!ready.empty()) {
    FileHandle signal = OwnFile(CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  }
  ULONGLONG deadline = GetTickCount64() + seconds * 1000ULL;
  while (GetTickCount64() < deadline && !Exists(until)) Sleep(20);
  return 0;
}
