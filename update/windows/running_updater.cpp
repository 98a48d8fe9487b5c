#include "running_updater.hpp"

#include <windows.h>

#include "http_transfer.hpp"
#include "paths/install_paths.hpp"
#include "install_probe.hpp"
#include "temporary_file_sink.hpp"
#include "text/text.hpp"

std::string UpdaterModulePath() {
  const auto path = ModulePath();
  if (!path) return {};
  std::string module = LongPath(*path);
  // The name as typed may differ in case from the name on disk, which a rename back must keep.
  WIN32_FIND_DATAA found{};
  const HANDLE search = ::FindFirstFileA(module.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return module;
  ::FindClose(search);
  const text::Pos slash = text::ReverseFind(module, '\\');
  return text::Mid(module, 0, slash + 1) + found.cFileName;
}

std::string LongPath(const std::string& path) {
  char buffer[kMaxPathBytes + 1] = {};
  const DWORD length = ::GetLongPathNameA(path.c_str(), buffer, kMaxPathBytes);
  return length == 0 || length >= kMaxPathBytes ? path : std::string(buffer, length);
}

int DownloadToTemporary(const std::string& url, const std::string& temporaryPath, const FileDigest& expected) {
  TemporaryFileSink sink(temporaryPath, expected);
  return DownloadToSink(url, sink);
}

bool RenameFile(const std::string& from, const std::string& to) {
  return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool RemoveFile(const std::string& path) {
  if (::DeleteFileA(path.c_str())) return true;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}
