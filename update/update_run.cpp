#include "update_run.hpp"

#include <set>
#include <vector>

#include "paths/entry_safety.hpp"
#include "download/helper_file_fetch.hpp"
#include "download/pack_run.hpp"
#include "paths/install_paths.hpp"
#include "paths/path_identity.hpp"
#include "manifest/manifest_freshness.hpp"
#include "manifest/manifest_keys.hpp"
#include "run_report.hpp"
#include "text/text.hpp"
#include "manifest/update_manifest.hpp"
#include "update_platform.hpp"

namespace {

class Run : private PackRunTarget {
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
  bool Keyed() const { return !options_.publicKeys.empty(); }
  bool SignatureHolds(std::string_view manifest);
  std::string LocalPath(const ManifestFileEntry& entry) const { return EntryLocalPath(installDir_, entry); }
  bool IsOwnEntry(const ManifestFileEntry& entry) {
    return IsUpdaterEntry(platform_.LongPath(LocalPath(entry)), modulePath_);
  }
  int ReplaceUpdater(int index, const std::string& remoteAddress, const FileDigest& digest);
  // Reads entry `index` with its hash line; false, reported, when the run must end there.
  bool ReadEntry(ManifestReader& reader, int index, ManifestFileEntry& entry, std::optional<FileDigest>& digest,
                 std::optional<MapLine>& map, std::optional<PackLine>& pack);
  int InstallEntry(int index, const ManifestFileEntry& entry, const std::optional<FileDigest>& digest,
                   const std::optional<MapLine>& map, const std::optional<PackLine>& pack);
  // The entry's folder, as the first step of every entry; false, reported, when it cannot be had.
  bool MakeFolder(int index, const ManifestFileEntry& entry);
  // Entry `index`, in a pack, with the entries after it that the same request carries; `index` and
  // `entries` move on past the last of them. 0 when one of them fails.
  int InstallFromPack(ManifestReader& entries, std::int32_t& index, std::int32_t count, const ManifestFileEntry& entry,
                      const FileDigest& digest, const PackLine& pack);
  std::unique_ptr<Replacement> Open(const PackedFile& file) override;
  void Current(const PackedFile& file) override;
  void Placed(const PackedFile& file) override;
  // The block map a map line names, when it has the stated size and SHA-256 and fits the file.
  std::optional<BlockMap> FetchMap(const MapLine& line, const FileDigest& file);
  // Fetches one file as the download plan says; 1 when it is in place.
  int Download(const ServedObject& source, const std::string& localPath, const std::optional<FileDigest>& digest,
               const std::optional<MapLine>& map);
  // Reads the store line, if any, into release_; false, reported, when the run must end there.
  bool ReadStore(ManifestReader& reader);
  // Reads the index the manifest names, if any, into `body` and `index`; false, reported, when the
  // run must end there.
  bool FollowIndex(ManifestReader& reader, std::string& body, std::optional<ManifestReader>& index,
                   UpdateManifest& manifest);
  // Whether a removal list stands after the last of `count` entries, read into removals_ as far as
  // it is well formed; it is judged in the pass.
  bool FindRemovals(const ManifestReader& entries, std::int32_t count);
  // The files a removal line may never name, as Windows resolves their paths: the release's own,
  // the target, the updater and its aside file.
  std::set<std::string> ProtectedFiles(const std::vector<std::string>& listed);
  std::string Resolved(const std::string& path) { return PathIdentity(platform_.LongPath(path)); }
  // In the pass, after every entry: false, reported, when a line is malformed or names a file
  // that must stay.
  bool JudgeRemovals(const std::vector<std::string>& listed);
  // Once every entry is in place: each file that is byte for byte a line's is removed.
  void RemoveDropped(const std::vector<std::string>& listed);

  UpdatePlatform& platform_;
  const UpdateOptions& options_;
  std::string installDir_;
  std::string modulePath_;
  std::string aside_;
  ServedRelease release_;
  bool hashRequired_ = false;
  OptionalLine removalList_ = OptionalLine::kAbsent;
  std::vector<RemovalLine> removals_;
  // The entries of the pack run being carried out, from its first entry's index on.
  std::vector<std::pair<ManifestFileEntry, FileDigest>> packRun_;
  int packRunFirst_ = 0;
  bool packRunReported_ = false;  // its failure has been reported
};

bool Run::SignatureHolds(std::string_view manifest) {
  const auto signature = FindManifestSignature(manifest);
  if (!signature) {
    Report(RunEvent::kSignatureRejected, -1, "the manifest does not end with a signature line");
    return false;
  }
  for (const PublicKey& key : options_.publicKeys)
    if (platform_.VerifySignature(signature->signedText, signature->signature, key)) return true;
  Report(RunEvent::kSignatureRejected, -1, "the signature does not match the manifest and any of the keys");
  return false;
}

bool Run::ReadEntry(ManifestReader& reader, int index, ManifestFileEntry& entry, std::optional<FileDigest>& digest,
                    std::optional<MapLine>& map, std::optional<PackLine>& pack) {
  if (!reader.ReadEntry(index, entry)) return Fail(RunEvent::kEntryMissing, index, reader.missingKey());
  if (const std::string reason = UnsafeEntryReason(entry); !reason.empty())
    return Fail(RunEvent::kEntryUnsafe, index, reason);
  FileDigest found;
  switch (reader.ReadEntryHash(index, found)) {
    case OptionalLine::kMalformed: return Fail(RunEvent::kHashMalformed, index);
    case OptionalLine::kPresent: digest = found; break;
    case OptionalLine::kAbsent:
      digest.reset();
      // A signature, or an index's hash, covers the installed bytes only through their hashes.
      if (hashRequired_) return Fail(RunEvent::kHashMissing, index);
      break;
  }
  // Without a key anyone on the path could hand out an updater that stays for good.
  if (!Keyed() && IsOwnEntry(entry)) return Fail(RunEvent::kOwnEntryRefused, index, LocalPath(entry));
  MapLine line;
  map.reset();
  switch (reader.ReadEntryMap(index, line)) {
    case OptionalLine::kMalformed: return Fail(RunEvent::kMapMalformed, index);
    case OptionalLine::kPresent: map = std::move(line); break;
    case OptionalLine::kAbsent: break;
  }
  PackLine packed;
  pack.reset();
  switch (reader.ReadEntryPack(index, packed)) {
    case OptionalLine::kMalformed: return Fail(RunEvent::kPackMalformed, index);
    case OptionalLine::kPresent:
      // Only a store serves packs, and the running updater is never written from one.
      if (!release_.store || IsOwnEntry(entry)) return Fail(RunEvent::kPackMalformed, index);
      pack = packed;
      break;
    case OptionalLine::kAbsent: break;
  }
  return true;
}

std::optional<BlockMap> Run::FetchMap(const MapLine& line, const FileDigest& file) {
  std::string body;
  if (!FetchHelperFile(platform_, release_, line, body)) return std::nullopt;
  return ParseBlockMap(body, file.size);
}

int Run::Download(const ServedObject& source, const std::string& localPath, const std::optional<FileDigest>& digest,
                  const std::optional<MapLine>& map) {
  FileToFetch file{source, digest ? &*digest : nullptr, map.has_value(), platform_.FindSeeds(localPath)};
  std::unique_ptr<Replacement> seeds;
  std::optional<BlockMap> blocks;
  for (;;) {
    const DownloadPlan plan = PlanDownload(file);
    switch (plan.next) {
      case DownloadPlan::Next::kWhole: return platform_.DownloadToFile(source.address, localPath, file.expected);
      case DownloadPlan::Next::kOpenSeeds:
        seeds = platform_.OpenSeeds(localPath, *digest);
        if (!seeds) return 0;
        file.seeds = seeds.get();
        break;
      case DownloadPlan::Next::kFetchMap:
        blocks = FetchMap(*map, *digest);
        file.mapFetched = true;
        file.map = blocks ? &*blocks : nullptr;
        break;
      case DownloadPlan::Next::kWholeInto:
      case DownloadPlan::Next::kAssemble: return CarryOut(plan, source, *seeds);
    }
  }
}

bool Run::MakeFolder(int index, const ManifestFileEntry& entry) {
  const std::string localDir = text::Format("%s%s", installDir_.c_str(), entry.to.c_str());
  if (platform_.IsDirectory(localDir)) return true;
  if (!platform_.MakeDirectory(localDir)) return Fail(RunEvent::kFolderFailed, index, localDir);
  Report(RunEvent::kFolderCreated, index, localDir);
  return true;
}

// Brings one entry's file into place; 0 when its folder cannot be had or the download fails.
int Run::InstallEntry(int index, const ManifestFileEntry& entry, const std::optional<FileDigest>& digest,
                      const std::optional<MapLine>& map, const std::optional<PackLine>& pack) {
  const std::string localPath = LocalPath(entry);
  std::string remoteAddress = EntryAddress(release_, entry, digest ? &*digest : nullptr);
  if (!MakeFolder(index, entry)) return 0;
  if (digest && platform_.IsFileCurrent(localPath, *digest)) {
    Report(RunEvent::kFileCurrent, index, localPath);
    return 1;
  }
  if (digest && Keyed() && IsOwnEntry(entry)) return ReplaceUpdater(index, remoteAddress, *digest);
  ServedObject source{remoteAddress, 0, digest ? static_cast<std::uint64_t>(digest->size) : 0};
  if (pack) {
    source = {ObjectAddress(*release_.store, pack->pack.sha256), pack->offset,
              static_cast<std::uint64_t>(pack->pack.size), static_cast<std::uint64_t>(digest->size)};
    remoteAddress = source.address;
  }
  const int downloaded = Download(source, localPath, digest, map);
  if (!downloaded) return Fail(RunEvent::kDownloadFailed, index, remoteAddress);
  Report(RunEvent::kDownloaded, index, localPath);
  return 1;
}

int Run::InstallFromPack(ManifestReader& entries, std::int32_t& index, std::int32_t count,
                         const ManifestFileEntry& entry, const FileDigest& digest, const PackLine& pack) {
  const std::string localPath = LocalPath(entry);
  // A killed run's temporary file is resumed on its own, as any download's.
  if (!MakeFolder(index, entry)) return 0;
  if (platform_.IsFileCurrent(localPath, digest)) {
    Report(RunEvent::kFileCurrent, index, localPath);
    return 1;
  }
  if (platform_.FindSeeds(localPath).partial) return InstallEntry(index, entry, digest, std::nullopt, pack);
  // The entries after it that the same request carries: in the same pack, joined by JoinsRequest,
  // with current ones, wherever they lie, stepped over.
  std::vector<PackedFile> files{{index, pack.offset, static_cast<std::uint64_t>(digest.size), false}};
  packRun_.assign(1, {entry, digest});
  packRunFirst_ = index;
  packRunReported_ = false;
  std::uint64_t end = pack.offset + static_cast<std::uint64_t>(digest.size);
  for (std::int32_t i = index + 1; i < count; ++i) {
    ManifestReader ahead = entries;
    ManifestFileEntry next;
    std::optional<FileDigest> nextDigest;
    std::optional<MapLine> map;
    std::optional<PackLine> nextPack;
    if (!ReadEntry(ahead, i, next, nextDigest, map, nextPack)) return 0;
    const std::string path = LocalPath(next);
    PackedFile file{i, 0, 0, nextDigest && platform_.IsFileCurrent(path, *nextDigest)};
    if (!file.current) {
      if (!nextPack || nextPack->pack != pack.pack) break;
      file.offset = nextPack->offset;
      file.size = static_cast<std::uint64_t>(nextDigest->size);
      if (!JoinsRequest(end, file.offset) || platform_.FindSeeds(path).partial) break;
      end = file.offset + file.size;
    }
    files.push_back(file);
    packRun_.emplace_back(next, nextDigest.value_or(FileDigest{}));
    entries = ahead;
  }
  const ServedObject source{ObjectAddress(*release_.store, pack.pack.sha256), 0,
                            static_cast<std::uint64_t>(pack.pack.size)};
  int failed = -1;
  const bool placed = CarryOutPackRun(platform_, source, files, *this, failed);
  index = files.back().entry;
  if (placed) return 1;
  if (!packRunReported_) Report(RunEvent::kDownloadFailed, failed, source.address);
  return 0;
}

std::unique_ptr<Replacement> Run::Open(const PackedFile& file) {
  const auto& [entry, digest] = packRun_[static_cast<std::size_t>(file.entry - packRunFirst_)];
  // The run's first entry has its folder already.
  if (file.entry != packRunFirst_ && !MakeFolder(file.entry, entry)) {
    packRunReported_ = true;
    return nullptr;
  }
  return platform_.OpenSeeds(LocalPath(entry), digest);
}

void Run::Current(const PackedFile& file) {
  Report(RunEvent::kFileCurrent, file.entry,
         LocalPath(packRun_[static_cast<std::size_t>(file.entry - packRunFirst_)].first));
}

void Run::Placed(const PackedFile& file) {
  Report(RunEvent::kDownloaded, file.entry,
         LocalPath(packRun_[static_cast<std::size_t>(file.entry - packRunFirst_)].first));
}

bool Run::ReadStore(ManifestReader& reader) {
  StoreLine store;
  switch (reader.ReadStore(store)) {
    case OptionalLine::kAbsent: return true;
    case OptionalLine::kMalformed: return Fail(RunEvent::kStoreMalformed);
    case OptionalLine::kPresent: break;
  }
  if (const auto unknown = UnknownStoreFeature(store)) return Fail(RunEvent::kUnknownFeature, -1, *unknown);
  release_.store = std::move(store.url);
  return true;
}

bool Run::FollowIndex(ManifestReader& reader, std::string& body, std::optional<ManifestReader>& index,
                      UpdateManifest& manifest) {
  HelperFile line;
  switch (reader.ReadIndexLine(line)) {
    case OptionalLine::kAbsent: return true;
    case OptionalLine::kMalformed: return Fail(RunEvent::kIndexMalformed);
    case OptionalLine::kPresent: break;
  }
  const std::string address = HelperFileAddress(release_, line);
  if (!FetchHelperFile(platform_, release_, line, body)) return Fail(RunEvent::kIndexFailed, -1, address);
  Report(RunEvent::kIndexRead, -1, address);
  index.emplace(body);
  if (!index->ReadCount(manifest)) return Fail(RunEvent::kCountMissing, -1, index->missingKey());
  if (manifest.FileCount() <= 0) return Fail(RunEvent::kIndexMalformed, -1, manifest_key::kSize);
  return true;
}

bool Run::FindRemovals(const ManifestReader& entries, std::int32_t count) {
  ManifestReader probe = entries;
  ManifestFileEntry entry;
  for (std::int32_t i = 0; i < count; ++i)
    if (!probe.ReadEntry(i, entry)) return false;
  removalList_ = probe.ReadRemovals(removals_);
  return removalList_ != OptionalLine::kAbsent;
}

std::set<std::string> Run::ProtectedFiles(const std::vector<std::string>& listed) {
  std::set<std::string> files;
  for (const std::string& path : listed) files.insert(Resolved(path));
  files.insert(Resolved(text::Format("%s\\%s", installDir_.c_str(), kTargetFileName)));
  files.insert(Resolved(text::Format("%s\\%s", installDir_.c_str(), kUpdaterFileName)));
  files.insert(Resolved(aside_));
  if (!modulePath_.empty()) files.insert(Resolved(modulePath_));
  return files;
}

bool Run::JudgeRemovals(const std::vector<std::string>& listed) {
  if (removalList_ == OptionalLine::kMalformed) return Fail(RunEvent::kRemovalMalformed);
  const std::set<std::string> kept = ProtectedFiles(listed);
  for (std::size_t i = 0; i < removals_.size(); ++i) {
    const int line = static_cast<int>(i);
    if (const std::string reason = UnsafeRemovalReason(removals_[i].path); !reason.empty())
      return Fail(RunEvent::kRemovalMalformed, line, reason);
    if (kept.contains(Resolved(installDir_ + removals_[i].path)))
      return Fail(RunEvent::kRemovalMalformed, line, "is a file the release or the updater keeps");
  }
  return true;
}

void Run::RemoveDropped(const std::vector<std::string>& listed) {
  // Now that the release's files are in place, a short name may resolve to one of them.
  const std::set<std::string> kept = ProtectedFiles(listed);
  for (std::size_t i = 0; i < removals_.size(); ++i) {
    const int line = static_cast<int>(i);
    const std::string path = installDir_ + removals_[i].path;
    if (kept.contains(Resolved(path))) {
      Report(RunEvent::kGoneLeft, line, path);
      continue;
    }
    switch (platform_.RemoveIfPublished(path, removals_[i].digest)) {
      case Removal::kRemoved: Report(RunEvent::kGoneRemoved, line, path); break;
      case Removal::kOtherBytes: Report(RunEvent::kGoneOtherBytes, line, path); break;
      case Removal::kNothing: Report(RunEvent::kGoneNothing, line, path); break;
      case Removal::kLeft: Report(RunEvent::kGoneLeft, line, path); break;
    }
  }
}

// The running file cannot be written or removed, but it can be renamed: aside first, then the
// checked new file to its name. The code already running carries on with the entries after it.
int Run::ReplaceUpdater(int index, const std::string& remoteAddress, const FileDigest& digest) {
  const std::string temporary = modulePath_ + ".download";
  if (!platform_.DownloadToTemporary(remoteAddress, temporary, digest))
    return Fail(RunEvent::kDownloadFailed, index, remoteAddress);
  const char* failed = nullptr;
  if (!platform_.RemoveFile(aside_)) {
    failed = "an earlier aside file cannot be removed";
  } else if (!platform_.RenameFile(modulePath_, aside_)) {
    failed = "the running file cannot be renamed aside";
  } else if (!platform_.RenameFile(temporary, modulePath_)) {
    if (!platform_.RenameFile(aside_, modulePath_))
      return Fail(RunEvent::kReplaceFailed, index, "the new file cannot be put in place, nor the old one back");
    failed = "the new file cannot be put in place; the old one is back";
  }
  if (failed) {
    platform_.RemoveFile(temporary);
    return Fail(RunEvent::kReplaceFailed, index, failed);
  }
  Report(RunEvent::kUpdaterReplaced, index, modulePath_);
  return 1;
}

int Run::Carry() {
  // Without a known folder every path below would be relative to the working directory.
  installDir_ = platform_.GetInstallDir();
  if (installDir_.empty()) return Fail(RunEvent::kNoInstallFolder);
  modulePath_ = platform_.GetModulePath();
  aside_ = text::Format("%s\\%s", installDir_.c_str(), kUpdaterAsideName);
  // The one change a run makes before the manifest: what an earlier replacement left. Should it
  // still be held, the next run tries again.
  if (!modulePath_.empty()) platform_.RemoveFile(aside_);

  // One byte more than the capacity keeps a full body terminated.
  std::vector<char> buffer(kManifestLimit + 1, '\0');
  if (!platform_.FetchText(options_.manifestUrl, buffer.data(), kManifestLimit)) {
    Report(RunEvent::kFetchFailed);
    platform_.ShowFetchFailure(std::string(text::UntilNul({buffer.data(), buffer.size()})));
    return 0;
  }
  const std::string_view manifestText = text::UntilNul({buffer.data(), buffer.size()});
  if (Keyed() && !SignatureHolds(manifestText)) return 0;

  ManifestReader reader(manifestText);
  UpdateManifest manifest;
  if (!reader.ReadHeader(manifest)) return Fail(RunEvent::kHeaderMissing, -1, reader.missingKey());
  release_.updateUrl = manifest.update_url;

  const std::string version = platform_.GetTargetVersion();
  if (Keyed())
    if (const auto refusal = StaleManifestRefusal(reader, manifest.update_version, version, platform_.GetUtcSeconds()))
      return Fail(refusal->event, -1, refusal->detail);
  const std::int32_t size = platform_.GetTargetFileSize();
  if (version == manifest.update_version && size == manifest.FileSize()) {
    Report(RunEvent::kTargetCurrent);
    return 1;
  }

  if (!ReadStore(reader)) return 0;
  if (!reader.ReadCount(manifest)) return Fail(RunEvent::kCountMissing, -1, reader.missingKey());
  std::string indexBody;
  std::optional<ManifestReader> index;
  if (!FollowIndex(reader, indexBody, index, manifest)) return 0;
  ManifestReader& entries = index ? *index : reader;
  const std::int32_t count = manifest.FileCount();
  // A store finds every file by its hash; a removal list compares with the release's files before
  // anything is touched, and those files must be known by their bytes.
  hashRequired_ = FindRemovals(entries, count) || Keyed() || index || release_.store;
  ManifestFileEntry entry;
  std::optional<FileDigest> digest;
  std::optional<MapLine> map;
  std::optional<PackLine> pack;
  std::vector<std::string> listed;  // where the entries go, when there is a removal list
  // Every entry is checked before the first folder or file is touched; where a pack line may stand,
  // also in a build that needs no hash.
  if (hashRequired_ || text::FindAtBoundary(entries.text(), manifest_key::kPack.stem, 0) != text::kNotFound) {
    ManifestReader pass = entries;
    for (std::int32_t i = 0; i < count; ++i) {
      if (!ReadEntry(pass, i, entry, digest, map, pack)) return 0;
      if (removalList_ != OptionalLine::kAbsent) listed.push_back(LocalPath(entry));
    }
    if (removalList_ != OptionalLine::kAbsent && !JudgeRemovals(listed)) return 0;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    if (!ReadEntry(entries, i, entry, digest, map, pack)) return 0;
    if (!(pack ? InstallFromPack(entries, i, count, entry, *digest, *pack)
               : InstallEntry(i, entry, digest, map, std::nullopt)))
      return 0;
  }
  RemoveDropped(listed);
  Report(RunEvent::kInstalled);
  return 1;
}

}  // namespace

std::string ManifestUrlOf(const std::string& host) {
  const std::string base = "http://" + host + ":8081/update_go";
  return text::Format("%s/%s", base.c_str(), "update.htm");
}

int UpdateRun(UpdatePlatform& platform, const UpdateOptions& options) { return Run(platform, options).Carry(); }
