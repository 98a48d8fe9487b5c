#include "local_file_check.hpp"

#include <windows.h>

#include <vector>

#include "crypto.hpp"
#include "phase_log.hpp"
#include "win_handle.hpp"

bool IsFileCurrent(const std::string& path, const FileDigest& expected) {
  MarkPhase("check-start");
  FileHandle file = OwnFile(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart != expected.size) return false;
  Sha256 hash;
  std::vector<char> chunk(std::size_t{64} << 10);
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) return false;
    if (read == 0) break;
    hash.Add(chunk.data(), read);
  }
  const bool current = hash.Finish() == expected.sha256;
  MarkPhase("check");
  return current;
}
