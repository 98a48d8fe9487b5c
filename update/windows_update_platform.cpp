#include "windows_update_platform.hpp"

#include <shlwapi.h>

#include "http_transfer.hpp"
#include "install_probe.hpp"

int WindowsUpdatePlatform::FetchText(const std::string& url, char* buffer, std::size_t capacity) {
  return ::FetchText(url, buffer, capacity);
}

int WindowsUpdatePlatform::DownloadToFile(const std::string& url, const std::string& localPath) {
  return ::DownloadToFile(url, localPath);
}

std::string WindowsUpdatePlatform::GetTargetVersion() { return ::GetTargetVersion(); }
std::int32_t WindowsUpdatePlatform::GetTargetFileSize() { return ::GetTargetFileSize(); }
std::string WindowsUpdatePlatform::GetInstallDir() { return ::GetInstallDir(); }

bool WindowsUpdatePlatform::IsDirectory(const std::string& path) { return ::PathIsDirectoryA(path.c_str()) != FALSE; }

bool WindowsUpdatePlatform::MakeDirectory(const std::string& path) {
  return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

void WindowsUpdatePlatform::ShowFetchFailure(const std::string& message) {
  ::MessageBoxA(owner_, message.c_str(), title_.c_str(), MB_OK | MB_ICONEXCLAMATION);
}
