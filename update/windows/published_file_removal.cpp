#include "published_file_removal.hpp"

#include <windows.h>

#include <vector>

#include "crypto.hpp"
#include "win_handle.hpp"

namespace {

bool HasBytes(HANDLE file, const FileDigest& published) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart != published.size) return false;
  Sha256 hash;
  std::vector<char> chunk(std::size_t{64} << 10);
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) return false;
    if (read == 0) break;
    hash.Add(chunk.data(), read);
  }
  return hash.Finish() == published.sha256;
}

}  // namespace

Removal RemoveIfPublished(const std::string& path, const FileDigest& published) {
  // A link is opened as itself, never followed to a file elsewhere.
  FileHandle file = OwnFile(::CreateFileA(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    if ((error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) &&
        ::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
      return Removal::kNothing;
    return Removal::kLeft;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(file.get(), &information) ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
    return Removal::kLeft;
  if (!HasBytes(file.get(), published)) return Removal::kOtherBytes;
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (!::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition))
    return Removal::kLeft;
  return Removal::kRemoved;
}
