// The update run's platform on Windows: WinINet transfers, the installation probe and the
// file system, with the fetch-failure box owned by the progress window.
#pragma once

#include <windows.h>

#include <string>

#include "update_platform.hpp"

class WindowsUpdatePlatform : public UpdatePlatform {
 public:
  // `owner` owns the fetch-failure box; `title` captions it (the application title).
  WindowsUpdatePlatform(HWND owner, std::string title) : owner_(owner), title_(std::move(title)) {}

  int FetchText(const std::string& url, char* buffer, std::size_t capacity) override;
  int FetchExact(const std::string& url, std::size_t size, std::string& body) override;
  int DownloadToFile(const std::string& url, const std::string& localPath, const FileDigest* expected) override;
  bool StreamObject(const std::string& url, const ByteRange& range, ObjectStream& stream) override;
  SeedsOnDisk FindSeeds(const std::string& localPath) override;
  std::unique_ptr<Replacement> OpenSeeds(const std::string& localPath, const FileDigest& expected) override;
  bool IsFileCurrent(const std::string& localPath, const FileDigest& expected) override;
  bool VerifySignature(std::string_view message, const Signature& signature, const PublicKey& key) override;
  std::string GetTargetVersion() override;
  std::int32_t GetTargetFileSize() override;
  std::string GetInstallDir() override;
  std::int64_t GetUtcSeconds() override;
  bool IsDirectory(const std::string& path) override;
  bool MakeDirectory(const std::string& path) override;
  void ShowFetchFailure(const std::string& message) override;
  std::string GetModulePath() override;
  std::string LongPath(const std::string& path) override;
  int DownloadToTemporary(const std::string& url, const std::string& temporaryPath,
                          const FileDigest& expected) override;
  bool RenameFile(const std::string& from, const std::string& to) override;
  bool RemoveFile(const std::string& path) override;
  Removal RemoveIfPublished(const std::string& path, const FileDigest& published) override;

 private:
  HWND owner_;
  std::string title_;
};
