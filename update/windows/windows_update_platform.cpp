#include "windows_update_platform.hpp"

#include <shlwapi.h>

#include "crypto.hpp"
#include "http_transfer.hpp"
#include "install_probe.hpp"
#include "local_file_check.hpp"
#include "published_file_removal.hpp"
#include "running_updater.hpp"
#include "seeded_download.hpp"

int WindowsUpdatePlatform::FetchText(const std::string& url, char* buffer, std::size_t capacity) {
  return ::FetchText(url, buffer, capacity);
}

int WindowsUpdatePlatform::FetchExact(const std::string& url, std::size_t size, std::string& body) {
  return ::FetchExact(url, size, body);
}

int WindowsUpdatePlatform::DownloadToFile(const std::string& url, const std::string& localPath,
                                          const FileDigest* expected) {
  return ::DownloadToFile(url, localPath, expected);
}

bool WindowsUpdatePlatform::StreamObject(const std::string& url, const ByteRange& range, ObjectStream& stream) {
  return ::StreamObject(url, range, stream);
}

SeedsOnDisk WindowsUpdatePlatform::FindSeeds(const std::string& localPath) { return ::FindSeeds(localPath); }

std::unique_ptr<Replacement> WindowsUpdatePlatform::OpenSeeds(const std::string& localPath,
                                                              const FileDigest& expected) {
  return ::OpenSeeds(localPath, expected);
}

bool WindowsUpdatePlatform::IsFileCurrent(const std::string& localPath, const FileDigest& expected) {
  return ::IsFileCurrent(localPath, expected);
}

bool WindowsUpdatePlatform::VerifySignature(std::string_view message, const Signature& signature,
                                            const PublicKey& key) {
  return VerifyP256Signature(message, signature, key);
}

std::string WindowsUpdatePlatform::GetTargetVersion() { return ::GetTargetVersion(); }
std::int32_t WindowsUpdatePlatform::GetTargetFileSize() { return ::GetTargetFileSize(); }
std::string WindowsUpdatePlatform::GetInstallDir() { return ::GetInstallDir(); }

std::int64_t WindowsUpdatePlatform::GetUtcSeconds() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  // 100-nanosecond intervals since 1601-01-01; 11644473600 seconds lie between 1601 and 1970.
  const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<std::int64_t>(ticks / 10000000) - 11644473600;
}

bool WindowsUpdatePlatform::IsDirectory(const std::string& path) { return ::PathIsDirectoryA(path.c_str()) != FALSE; }

bool WindowsUpdatePlatform::MakeDirectory(const std::string& path) {
  return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

void WindowsUpdatePlatform::ShowFetchFailure(const std::string& message) {
  ::MessageBoxA(owner_, message.c_str(), title_.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

std::string WindowsUpdatePlatform::GetModulePath() { return UpdaterModulePath(); }
std::string WindowsUpdatePlatform::LongPath(const std::string& path) { return ::LongPath(path); }

int WindowsUpdatePlatform::DownloadToTemporary(const std::string& url, const std::string& temporaryPath,
                                               const FileDigest& expected) {
  return ::DownloadToTemporary(url, temporaryPath, expected);
}

bool WindowsUpdatePlatform::RenameFile(const std::string& from, const std::string& to) {
  return ::RenameFile(from, to);
}
bool WindowsUpdatePlatform::RemoveFile(const std::string& path) { return ::RemoveFile(path); }
Removal WindowsUpdatePlatform::RemoveIfPublished(const std::string& path, const FileDigest& published) {
  return ::RemoveIfPublished(path, published);
}
