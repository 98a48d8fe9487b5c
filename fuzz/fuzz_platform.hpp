// The update run's platform for the fuzzer: a server that answers every address with a body
// of its own and a disk that names files as Windows does, so that two spellings of one path
// are one file. Every folder made and every file written is first checked to lie within the
// installation folder; a path outside ends the process, which libFuzzer keeps as a crash.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "update_platform.hpp"
#include "windows_path.hpp"

[[noreturn]] void FailOracle(const std::string& what);

class FuzzPlatform : public UpdatePlatform {
 public:
  enum class Failure { kNotServed, kFileError };

  FuzzPlatform(std::string installDir, std::string manifest);

  // The body the server sends for a file address.
  static std::string BodyOf(const std::string& url) { return "<" + url + ">"; }

  // Download number `index` (from 0) fails as `failure`.
  void FailDownload(std::size_t index, Failure failure) { failAt_ = index, failure_ = failure; }
  void SetTarget(std::string version, std::int32_t size) { targetVersion_ = std::move(version), targetSize_ = size; }
  // What VerifySignature answers: the fuzzer cannot forge a signature, so it plays a valid one.
  void SetSignatureHolds(bool holds) { signatureHolds_ = holds; }

  // The bytes of the file at `path`, however it is spelt; nothing when there is no such file.
  std::optional<std::string> FileAt(const std::string& path) const;
  const std::vector<std::string>& fetches() const { return fetches_; }
  const std::vector<std::string>& downloads() const { return downloads_; }
  // The index of the first download that failed (as asked, or for bytes that do not match their
  // hash line); SIZE_MAX when none did.
  std::size_t firstFailure() const { return firstFailure_; }
  std::size_t foldersMade() const { return foldersMade_; }

  int FetchText(const std::string& url, char* buffer, std::size_t capacity) override;
  // The server serves no block maps: a map line's download is a whole one.
  int FetchExact(const std::string&, std::size_t, std::string&) override { return 0; }
  int DownloadToFile(const std::string& url, const std::string& localPath, const FileDigest* expected) override;
  int DownloadWithMap(const std::string& url, const std::string& localPath, const FileDigest& expected,
                      const std::function<std::optional<BlockMap>()>&) override {
    return DownloadToFile(url, localPath, &expected);
  }
  bool IsFileCurrent(const std::string& localPath, const FileDigest& expected) override;
  bool VerifySignature(std::string_view, const Signature&, const PublicKey&) override { return signatureHolds_; }
  std::string GetTargetVersion() override { return targetVersion_; }
  std::int32_t GetTargetFileSize() override { return targetSize_; }
  std::string GetInstallDir() override { return installDir_; }
  bool IsDirectory(const std::string& path) override;
  bool MakeDirectory(const std::string& path) override;
  void ShowFetchFailure(const std::string& message) override;

 private:
  // The normalised path, after checking that it lies within the installation folder.
  WindowsPath Inside(const std::string& path, const char* operation) const;

  std::string installDir_;
  WindowsPath install_;
  std::string manifest_;
  std::string targetVersion_;
  std::int32_t targetSize_ = -1;
  std::size_t failAt_ = SIZE_MAX;
  Failure failure_ = Failure::kNotServed;
  bool signatureHolds_ = false;
  std::size_t firstFailure_ = SIZE_MAX;
  std::size_t foldersMade_ = 0;

  std::set<std::string> folders_;
  std::map<std::string, std::string> files_;
  std::vector<std::string> fetches_;
  std::vector<std::string> downloads_;
};
