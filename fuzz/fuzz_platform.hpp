// The update run's platform for the fuzzer: a server that answers every address with a body
// of its own and a disk that names files as Windows does, so that two spellings of one path
// are one file. Every folder made and every file written is first checked to lie within the
// installation folder; a path outside ends the process, which libFuzzer keeps as a crash.
// The updater's own file starts out running: it cannot be written or removed, only renamed,
// and every step is held against what a replacement of it may do.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
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
  // `length` bytes from `offset` of the object the server holds at a pack's address: its body over
  // and over, as long as the manifest says.
  static std::string PackBytes(const std::string& url, std::uint64_t offset, std::uint64_t length);
  // A file of a pack larger than this fails as it arrives: no hash line a fuzzer writes matches
  // one, and its bytes would only fill the memory.
  static constexpr std::uint64_t kLargestPackedFile = std::uint64_t{16} << 20;
  // The size and SHA-256 of bytes, as a hash line states them.
  static FileDigest DigestOf(const std::string& bytes);

  // The body the server sends for the index, whatever its address.
  void ServeIndex(std::string index) { index_ = std::move(index); }
  // Download number `index` (from 0) fails as `failure`.
  void FailDownload(std::size_t index, Failure failure) { failAt_ = index, failure_ = failure; }
  void SetTarget(std::string version, std::int32_t size) { targetVersion_ = std::move(version), targetSize_ = size; }
  // What VerifySignature answers: the fuzzer cannot forge a signature, so it plays a valid one.
  void SetSignatureHolds(bool holds) { signatureHolds_ = holds; }

  // The bytes of the file at `path`, however it is spelt; nothing when there is no such file.
  std::optional<std::string> FileAt(const std::string& path) const;
  const std::vector<std::string>& fetches() const { return fetches_; }
  const std::vector<std::string>& indexFetches() const { return indexFetches_; }
  // The updater's running file, its aside name and its temporary file, as their keys.
  std::string moduleKey() const { return module_.Key(); }
  std::string asideKey() const { return aside_.Key(); }
  // The bytes of the updater that runs.
  static std::string OldUpdater() { return "<the running updater>"; }
  const std::vector<std::string>& downloads() const { return downloads_; }
  // The index of the first download that failed (as asked, or for bytes that do not match their
  // hash line); SIZE_MAX when none did.
  std::size_t firstFailure() const { return firstFailure_; }
  std::size_t foldersMade() const { return foldersMade_; }

  int FetchText(const std::string& url, char* buffer, std::size_t capacity) override;
  int FetchExact(const std::string& url, std::size_t size, std::string& body) override;
  int DownloadToFile(const std::string& url, const std::string& localPath, const FileDigest* expected) override;
  // Every body is the address's own, so no file on this disk is offered as a seed: the planner
  // sends every file whole, through DownloadToFile, but for the files of packs, which come through
  // StreamObject (and a range each when that fails) into a new file that OpenSeeds makes.
  SeedsOnDisk FindSeeds(const std::string&) override { return {}; }
  std::unique_ptr<Replacement> OpenSeeds(const std::string& localPath, const FileDigest& expected) override;
  bool StreamObject(const std::string& url, const ByteRange& range, ObjectStream& stream) override;
  bool IsFileCurrent(const std::string& localPath, const FileDigest& expected) override;
  bool VerifySignature(std::string_view, const Signature&, const PublicKey&) override { return signatureHolds_; }
  std::string GetTargetVersion() override { return targetVersion_; }
  std::int32_t GetTargetFileSize() override { return targetSize_; }
  std::string GetInstallDir() override { return installDir_; }
  // A fixed clock, so that an input always runs alike: 2026-12-07T12:00:00Z.
  std::int64_t GetUtcSeconds() override { return 1796644800; }
  bool IsDirectory(const std::string& path) override;
  bool MakeDirectory(const std::string& path) override;
  void ShowFetchFailure(const std::string& message) override;
  std::string GetModulePath() override { return installDir_ + "\\Merovast.exe"; }
  int DownloadToTemporary(const std::string& url, const std::string& temporaryPath,
                          const FileDigest& expected) override;
  bool RenameFile(const std::string& from, const std::string& to) override;
  bool RemoveFile(const std::string& path) override;
  Removal RemoveIfPublished(const std::string& path, const FileDigest& published) override;
  // The files removed for removal lines, as their keys, and their bytes.
  const std::map<std::string, std::string>& removed() const { return removed_; }
  // A file of the installation before the run, as a user or an earlier release left it, with the
  // folders above it; nothing when the path is not below the installation folder.
  void PlaceFile(const std::string& path, std::string bytes);

 private:
  // The normalised path, after checking that it lies within the installation folder.
  WindowsPath Inside(const std::string& path, const char* operation) const;
  // After every step: the module path holds the old updater or a new one that passed its hash
  // check (or nothing, between the rename aside and the next), and the running image is intact.
  void CheckUpdater() const;
  // A download numbered `index` fails as asked, or for bytes that do not match.
  bool DownloadFails(std::size_t index, const std::string& url, const FileDigest* expected, const std::string& path);
  // Puts a file of a pack in place: only with its folder, never over the running image or a folder,
  // and only with the expected size and SHA-256.
  bool PlacePacked(const std::string& localPath, const std::string& bytes, const FileDigest& expected);
  class PackedFile;

  std::string installDir_;
  WindowsPath install_;
  std::string manifest_;
  std::string index_;
  std::string targetVersion_;
  std::int32_t targetSize_ = -1;
  std::size_t failAt_ = SIZE_MAX;
  Failure failure_ = Failure::kNotServed;
  bool signatureHolds_ = false;
  std::size_t firstFailure_ = SIZE_MAX;
  std::size_t foldersMade_ = 0;

  WindowsPath module_;
  WindowsPath aside_;
  WindowsPath temporary_;
  std::string runningKey_;               // where the running image's file is now
  std::set<std::string> checkedBodies_;  // bodies that passed their hash check
  bool moduleAside_ = false;             // the last rename took the module aside

  std::set<std::string> folders_;
  std::map<std::string, std::string> files_;
  std::vector<std::string> fetches_;
  std::vector<std::string> indexFetches_;
  std::vector<std::string> downloads_;
  std::map<std::string, std::string> removed_;
};
