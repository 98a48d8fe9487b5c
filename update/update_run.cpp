#include "update_run.hpp"

#include <vector>

#include "crypto.hpp"
#include "entry_safety.hpp"
#include "run_report.hpp"
#include "text.hpp"
#include "update_manifest.hpp"
#include "update_platform.hpp"

#ifndef UPDATE_SERVER_HOST
#error "UPDATE_SERVER_HOST must name the update server"
#endif

namespace {

constexpr std::size_t kManifestCapacity = 5000;

std::string ManifestBase() { return "http://" UPDATE_SERVER_HOST ":8081/update_go"; }

class Run {
 public:
  Run(UpdatePlatform& platform, const UpdateOptions& options) : platform_(platform), options_(options) {}

  int Carry();

 private:
  // 0 after reporting `event`.
  int Fail(RunEvent event, int entry = -1, std::string_view detail = {}) {
    Report(event, entry, detail);
    return 0;
  }
  void Report(RunEvent event, int entry = -1, std::string_view detail = {}) {
    if (options_.report) options_.report->Report(event, entry, detail);
  }
  bool SignatureHolds(std::string_view manifest);
  // Reads entry `index` with its hash line; false, reported, when the run must end there.
  bool ReadEntry(ManifestReader& reader, int index, ManifestFileEntry& entry, std::optional<FileDigest>& digest,
                 std::optional<MapLine>& map);
  int InstallEntry(int index, const ManifestFileEntry& entry, const std::optional<FileDigest>& digest,
                   const std::optional<MapLine>& map);
  // The block map a map line names, when it has the stated size and SHA-256 and fits the file.
  std::optional<BlockMap> FetchMap(const MapLine& line, const FileDigest& file);

  UpdatePlatform& platform_;
  const UpdateOptions& options_;
  std::string installDir_;
  std::string url_;
};

bool Run::SignatureHolds(std::string_view manifest) {
  const auto signature = FindManifestSignature(manifest);
  if (!signature) {
    Report(RunEvent::kSignatureRejected, -1, "the manifest does not end with a signature line");
    return false;
  }
  if (!platform_.VerifySignature(signature->signedText, signature->signature, *options_.publicKey)) {
    Report(RunEvent::kSignatureRejected, -1, "the signature does not match the manifest and the key");
    return false;
  }
  return true;
}

bool Run::ReadEntry(ManifestReader& reader, int index, ManifestFileEntry& entry, std::optional<FileDigest>& digest,
                    std::optional<MapLine>& map) {
  if (!reader.ReadEntry(index, entry)) return Fail(RunEvent::kEntryMissing, index, reader.missingKey());
  if (const std::string reason = UnsafeEntryReason(entry); !reason.empty())
    return Fail(RunEvent::kEntryUnsafe, index, reason);
  FileDigest found;
  switch (reader.ReadEntryHash(index, found)) {
    case ManifestReader::HashLine::kMalformed: return Fail(RunEvent::kHashMalformed, index);
    case ManifestReader::HashLine::kPresent: digest = found; break;
    case ManifestReader::HashLine::kAbsent:
      digest.reset();
      // A signature covers the installed bytes only through their hashes.
      if (options_.publicKey) return Fail(RunEvent::kHashMissing, index);
      break;
  }
  MapLine line;
  map.reset();
  switch (reader.ReadEntryMap(index, line)) {
    case OptionalLine::kMalformed: return Fail(RunEvent::kMapMalformed, index);
    case OptionalLine::kPresent: map = std::move(line); break;
    case OptionalLine::kAbsent: break;
  }
  return true;
}

std::optional<BlockMap> Run::FetchMap(const MapLine& line, const FileDigest& file) {
  std::string body;
  if (!platform_.FetchExact(url_ + line.from, static_cast<std::size_t>(line.digest.size), body)) return std::nullopt;
  Sha256 hash;
  hash.Add(body.data(), body.size());
  if (hash.Finish() != line.digest.sha256) return std::nullopt;
  return ParseBlockMap(body, file.size);
}

// Brings one entry's file into place; 0 when its folder cannot be had or the download fails.
int Run::InstallEntry(int index, const ManifestFileEntry& entry, const std::optional<FileDigest>& digest,
                      const std::optional<MapLine>& map) {
  const std::string remoteDir = text::Format("%s%s", url_.c_str(), entry.from.c_str());
  const std::string localDir = text::Format("%s%s", installDir_.c_str(), entry.to.c_str());
  const std::string localPath = text::Format("%s\\%s", localDir.c_str(), entry.name.c_str());
  const std::string remoteAddress = text::Format("%s/%s", remoteDir.c_str(), entry.name.c_str());
  if (!platform_.IsDirectory(localDir)) {
    if (!platform_.MakeDirectory(localDir)) return Fail(RunEvent::kFolderFailed, index, localDir);
    Report(RunEvent::kFolderCreated, index, localDir);
  }
  if (digest && platform_.IsFileCurrent(localPath, *digest)) {
    Report(RunEvent::kFileCurrent, index, localPath);
    return 1;
  }
  const int downloaded =
      map ? platform_.DownloadWithMap(remoteAddress, localPath, *digest, [&] { return FetchMap(*map, *digest); })
          : platform_.DownloadToFile(remoteAddress, localPath, digest ? &*digest : nullptr);
  if (!downloaded) return Fail(RunEvent::kDownloadFailed, index, remoteAddress);
  Report(RunEvent::kDownloaded, index, localPath);
  return 1;
}

int Run::Carry() {
  // Without a known folder every path below would be relative to the working directory.
  installDir_ = platform_.GetInstallDir();
  if (installDir_.empty()) return Fail(RunEvent::kNoInstallFolder);

  // One byte more than the capacity keeps a full body terminated.
  std::vector<char> buffer(kManifestCapacity + 1, '\0');
  if (!platform_.FetchText(ManifestUrl(), buffer.data(), kManifestCapacity)) {
    Report(RunEvent::kFetchFailed);
    platform_.ShowFetchFailure(std::string(text::UntilNul({buffer.data(), buffer.size()})));
    return 0;
  }
  const std::string_view manifestText = text::UntilNul({buffer.data(), buffer.size()});
  if (options_.publicKey && !SignatureHolds(manifestText)) return 0;

  ManifestReader reader(manifestText);
  UpdateManifest manifest;
  if (!reader.ReadHeader(manifest)) return Fail(RunEvent::kHeaderMissing, -1, reader.missingKey());
  url_ = manifest.update_url;

  const std::string version = platform_.GetTargetVersion();
  const std::int32_t size = platform_.GetTargetFileSize();
  if (version == manifest.update_version && size == manifest.FileSize()) {
    Report(RunEvent::kTargetCurrent);
    return 1;
  }

  if (!reader.ReadFileCount(manifest)) return Fail(RunEvent::kCountMissing, -1, reader.missingKey());
  const std::int32_t count = manifest.FileCount();
  ManifestFileEntry entry;
  std::optional<FileDigest> digest;
  std::optional<MapLine> map;
  if (options_.publicKey) {
    // Every entry is checked before the first folder or file is touched.
    ManifestReader pass = reader;
    for (std::int32_t i = 0; i < count; ++i)
      if (!ReadEntry(pass, i, entry, digest, map)) return 0;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    if (!ReadEntry(reader, i, entry, digest, map)) return 0;
    if (!InstallEntry(i, entry, digest, map)) return 0;
  }
  Report(RunEvent::kInstalled);
  return 1;
}

}  // namespace

std::string ManifestUrl() { return text::Format("%s/%s", ManifestBase().c_str(), "update.htm"); }

int UpdateRun(UpdatePlatform& platform, const UpdateOptions& options) { return Run(platform, options).Carry(); }
