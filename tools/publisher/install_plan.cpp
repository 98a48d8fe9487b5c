#include "install_plan.hpp"

#include <chrono>
#include <cstring>
#include <iterator>
#include <utility>
#include <fstream>
#include <set>
#include <system_error>

#include "blocks/block_matcher.hpp"
#include "crypto.hpp"
#include "file_version_probe.hpp"
#include "object_store.hpp"
#include "paths/install_paths.hpp"
#include "release_check.hpp"
#include "release_names.hpp"
#include "run_report.hpp"
#include "served_file.hpp"
#include "text/text.hpp"
#include "update_platform.hpp"
#include "update_run.hpp"

namespace fs = std::filesystem;

namespace {

constexpr const char* kInstall = "<install>";

// What one download would fetch.
struct Fetch {
  std::optional<std::int64_t> bytes;  // unknown without a hash line; the map's bytes included
  std::int64_t fileSize = 0;
  std::size_t ranges = 0;  // 0: the whole file in one request
  std::int64_t mapBytes = 0;
  bool packed = false;  // cut from a request over a pack, counted there
};

// A file on this machine read in place.
class DiskSeed : public SeedFile {
 public:
  explicit DiskSeed(const fs::path& path) : in_(path, std::ios::binary) {
    std::error_code error;
    size_ = fs::file_size(path, error);
    if (error) size_ = 0;
  }
  DiskSeed() = default;
  std::uint64_t Size() override { return size_; }
  std::size_t Read(std::uint64_t offset, unsigned char* data, std::size_t size) override {
    if (!in_.is_open()) return 0;
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(in_.gcount());
  }

 private:
  std::ifstream in_;
  std::uint64_t size_ = 0;
};

// The seeds read for real; the steps carried out only counted, every range and the whole body
// assumed to arrive as asked.
class CountingReplacement : public Replacement {
 public:
  CountingReplacement(const std::optional<fs::path>& oldFile, const std::optional<fs::path>& partial, Fetch& fetch,
                      std::size_t& requests)
      : fetch_(fetch), requests_(requests) {
    if (oldFile) seeds_[0].emplace(*oldFile);
    if (partial) seeds_[1].emplace(*partial);
    for (std::optional<DiskSeed>& seed : seeds_)
      if (!seed) seed.emplace();
  }
  SeedFile& Seed(int index) override { return *seeds_[static_cast<std::size_t>(index)]; }
  bool Copy(int, std::uint64_t, std::uint64_t) override { return true; }
  bool Append(const char*, std::size_t) override { return true; }
  bool Restart() override { return true; }
  RangeAnswer FetchRange(const std::string&, const ByteRange& range) override {
    *fetch_.bytes += static_cast<std::int64_t>(range.last - range.first + 1);
    ++fetch_.ranges;
    ++requests_;
    return RangeAnswer::kPart;
  }
  int FetchWhole(const std::string&) override {
    *fetch_.bytes += fetch_.fileSize;
    ++requests_;
    return 1;
  }
  bool Finish() override { return true; }

 private:
  Fetch& fetch_;
  std::size_t& requests_;
  std::optional<DiskSeed> seeds_[2];
};

// The updater's platform over a folder on this machine: folders it would create are only
// noted, transfers are assumed to succeed, and what is already on disk is read for real.
class FolderPlatform : public UpdatePlatform {
 public:
  FolderPlatform(std::string manifest, fs::path root, std::optional<fs::path> webRoot, fs::path manifestPath)
      : manifest_(std::move(manifest)),
        root_(std::move(root)),
        webRoot_(std::move(webRoot)),
        manifestPath_(std::move(manifestPath)) {
    ManifestReader reader(manifest_);
    UpdateManifest header;
    if (reader.ReadHeader(header)) url_ = header.update_url;
  }

  std::optional<Fetch> lastFetch;

  // Every request the run makes, the manifest's included.
  std::size_t requests = 0;
  // The requests over packs, each as a line, taken by whoever reports them.
  std::vector<std::string> packRequests;

  int FetchText(const std::string&, char* buffer, std::size_t capacity) override {
    ++requests;
    std::memcpy(buffer, manifest_.data(), std::min(capacity, manifest_.size()));
    return 1;
  }
  // The index and the maps a manifest names, as served below the web root; maps also beside the
  // manifest's file.
  int FetchExact(const std::string& url, std::size_t size, std::string& body) override {
    ++requests;
    const auto object = webRoot_ ? ObjectPathOf(*webRoot_ / kStoreFolder, url) : std::nullopt;
    auto served = object ? ReadWholeFile(*object) : webRoot_ ? ReadServedFile(*webRoot_, url) : std::nullopt;
    if (!served && !manifestPath_.empty() && !url_.empty() && url.starts_with(url_))
      if (const auto path = ServedMapPath(manifestPath_, url_, url.substr(url_.size()))) served = ReadWholeFile(*path);
    if (!served) return 0;
    body = std::move(*served);
    mapBytes_ += static_cast<std::int64_t>(body.size());
    return body.size() == size ? 1 : 0;
  }
  int DownloadToFile(const std::string&, const std::string&, const FileDigest* expected) override {
    ++requests;
    lastFetch =
        Fetch{expected ? std::optional<std::int64_t>(expected->size) : std::nullopt, expected ? expected->size : 0};
    return 1;
  }
  // A request over a pack: counted here with its bytes, which the run's files take as they pass.
  bool StreamObject(const std::string& url, const ByteRange& range, ObjectStream& stream) override {
    ++requests;
    const std::uint64_t first = range.first, last = range.last;
    const bool whole = first == 0 && last + 1 == range.total;
    packBytes_ += static_cast<std::int64_t>(last - first + 1);
    packRequests.push_back(text::Format("%s bytes %llu-%llu of the pack %s", whole ? "asks for all" : "asks for",
                                        static_cast<unsigned long long>(first), static_cast<unsigned long long>(last),
                                        url.c_str()));
    if (!stream.Start(first)) return false;
    const std::vector<char> zeros(std::size_t{1} << 16);
    streaming_ = true;
    for (std::uint64_t at = first; at <= last && !stream.Done(); at += zeros.size())
      if (!stream.Add(zeros.data(), static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), last + 1 - at))))
        break;
    streaming_ = false;
    return stream.Done();
  }
  std::int64_t TakePackBytes() { return std::exchange(packBytes_, 0); }

  // Every download starts here, so the map bytes counted are its own.
  SeedsOnDisk FindSeeds(const std::string& localPath) override {
    mapBytes_ = 0;
    return {ExistingFile(localPath).has_value(), Partial(localPath).has_value()};
  }
  // The seeds as the updater opens them; the fetch is counted as the plan is carried out.
  std::unique_ptr<Replacement> OpenSeeds(const std::string& localPath, const FileDigest& expected) override {
    lastFetch = Fetch{0, expected.size};
    lastFetch->packed = streaming_;
    return std::make_unique<CountingReplacement>(ExistingFile(localPath), Partial(localPath), *lastFetch, requests);
  }
  // The last download's fetch, its map's bytes added; taken by whoever reports it.
  std::optional<Fetch> TakeFetch() {
    std::optional<Fetch> fetch = std::exchange(lastFetch, std::nullopt);
    if (fetch && fetch->bytes) {
      *fetch->bytes += mapBytes_;
      fetch->mapBytes = mapBytes_;
    }
    return fetch;
  }
  bool IsFileCurrent(const std::string& localPath, const FileDigest& expected) override {
    const auto file = Existing(localPath);
    std::error_code error;
    if (!file || !fs::is_regular_file(*file, error) ||
        fs::file_size(*file, error) != static_cast<std::uintmax_t>(expected.size))
      return false;
    std::ifstream in(*file, std::ios::binary);
    Sha256 hash;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) hash.Add(chunk, static_cast<std::size_t>(in.gcount()));
    return !in.bad() && hash.Finish() == expected.sha256;
  }
  bool VerifySignature(std::string_view message, const Signature& signature, const PublicKey& key) override {
    return VerifyP256Signature(message, signature, key);
  }

  std::string GetTargetVersion() override {
    const auto target = Existing(Target());
    return target ? pe::ProbeFileVersion(*target) : std::string();
  }
  std::int32_t GetTargetFileSize() override {
    const auto target = Existing(Target());
    std::error_code error;
    if (!target || !fs::is_regular_file(*target, error)) return -1;
    const auto size = fs::file_size(*target, error);
    return error ? -1 : static_cast<std::int32_t>(size);  // the probe keeps the low 32 bits too
  }
  std::string GetInstallDir() override { return kInstall; }
  std::int64_t GetUtcSeconds() override {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  }

  bool IsDirectory(const std::string& path) override {
    std::error_code error;
    if (created_.contains(Key(path))) return true;
    const auto folder = Existing(path);
    return folder && fs::is_directory(*folder, error);
  }
  bool MakeDirectory(const std::string& path) override {
    const auto slash = text::ReverseFind(path, '\\');
    if (slash == text::kNotFound || Existing(path) || !IsDirectory(text::Mid(path, 0, slash))) return false;
    created_.insert(Key(path));
    return true;
  }
  void ShowFetchFailure(const std::string&) override {}
  // The updater's own entry: its download and renames are assumed to succeed like the others.
  std::string GetModulePath() override { return std::string(kInstall) + "\\" + kUpdaterFileName; }
  int DownloadToTemporary(const std::string&, const std::string&, const FileDigest&) override { return 1; }
  bool RenameFile(const std::string&, const std::string&) override { return true; }
  bool RemoveFile(const std::string&) override { return true; }
  // Only decided: a file that has the line's bytes would be removed.
  Removal RemoveIfPublished(const std::string& path, const FileDigest& published) override {
    std::error_code error;
    const auto found = Existing(path);
    if (!found) return Removal::kNothing;
    if (!fs::is_regular_file(*found, error)) return Removal::kLeft;
    return IsFileCurrent(path, published) ? Removal::kRemoved : Removal::kOtherBytes;
  }

 private:
  static std::string Target() { return std::string(kInstall) + "\\" + kTargetFileName; }

  std::optional<fs::path> ExistingFile(const std::string& path) const {
    std::error_code error;
    auto file = Existing(path);
    if (file && !fs::is_regular_file(*file, error)) file.reset();
    return file;
  }
  // A killed run's temporary file, which the updater makes its seed, or else an earlier seed.
  std::optional<fs::path> Partial(const std::string& localPath) const {
    if (auto download = ExistingFile(localPath + ".download")) return download;
    return ExistingFile(localPath + ".seed");
  }

  // The components of an installation path, decoded from code page 936; nothing when the path
  // does not lie in the installation or is no text of that code page.
  static std::optional<std::vector<std::string>> Components(const std::string& path) {
    if (!path.starts_with(kInstall)) return std::nullopt;
    std::vector<std::string> components;
    std::string_view rest = std::string_view(path).substr(std::strlen(kInstall));
    // Split after decoding: a trail byte may have the value of a backslash.
    std::size_t start = 0;
    for (std::size_t i = 0; i <= rest.size(); ++i) {
      if (i < rest.size() && text::IsLeadByte(static_cast<unsigned char>(rest[i])) && i + 1 < rest.size()) {
        ++i;
        continue;
      }
      if (i == rest.size() || rest[i] == '\\' || rest[i] == '/') {
        if (i > start) {
          const std::string name = NameFromServed(rest.substr(start, i - start));
          if (name.empty()) return std::nullopt;
          components.push_back(name);
        }
        start = i + 1;
      }
    }
    return components;
  }

  // The folder's own file or folder for an installation path, found as Windows finds names:
  // case ignored. Nothing when some component is not there.
  std::optional<fs::path> Existing(const std::string& path) const {
    const auto components = Components(path);
    if (!components) return std::nullopt;
    fs::path found = root_;
    for (const std::string& component : *components) {
      std::error_code error;
      std::optional<fs::path> match;
      for (fs::directory_iterator it(found, error), end; !error && it != end; it.increment(error))
        if (CaseKey(it->path().filename().string()) == CaseKey(component)) match = it->path();
      if (!match) return std::nullopt;
      found = *match;
    }
    return found;
  }

  static std::u32string Key(const std::string& path) {
    const auto components = Components(path);
    std::u32string key;
    if (components)
      for (const std::string& component : *components) key += CaseKey(component) + U"\\";
    return key;
  }

  std::string manifest_;
  fs::path root_;
  std::optional<fs::path> webRoot_;
  fs::path manifestPath_;
  std::string url_;
  std::int64_t mapBytes_ = 0;
  std::int64_t packBytes_ = 0;
  bool streaming_ = false;
  std::set<std::u32string> created_;
};

// Each step of the run as one line.
class PlanSteps : public RunReport {
 public:
  PlanSteps(std::vector<std::string>& steps, std::vector<std::string>& fetches, FolderPlatform& platform, bool webRoot)
      : steps_(steps), webRoot_(webRoot), fetches_(fetches), platform_(platform) {}

  void Report(RunEvent event, int entry, std::string_view detail) override {
    const std::string d(NameFromServed(detail).empty() ? detail : NameFromServed(detail));
    const std::string at = text::Format("entry %d: ", entry);
    switch (event) {
      case RunEvent::kNoInstallFolder: Add("stops: the installation folder is unknown"); break;
      case RunEvent::kFetchFailed: Add("stops: the manifest cannot be fetched"); break;
      case RunEvent::kSignatureRejected: Add("stops: the signature is refused: " + d); break;
      case RunEvent::kHeaderMissing: Add("stops: " + d + " is missing"); break;
      case RunEvent::kExpiryMalformed: Add("stops: update_expires= is no UTC time YYYY-MM-DDTHH:MM:SSZ"); break;
      case RunEvent::kExpired: Add("stops: the manifest expired at " + d); break;
      case RunEvent::kVersionUnreadable: Add("stops: the version " + d + " does not read as numbers"); break;
      case RunEvent::kOlderRelease: Add("stops: the release is older than the installed " + d); break;
      case RunEvent::kTargetCurrent: Add("the target is current: nothing is downloaded"); break;
      case RunEvent::kStoreMalformed: Add("stops: update_store= is malformed"); break;
      case RunEvent::kUnknownFeature:
        Add("stops: the store needs the feature " + d + ", unknown to the updater");
        break;
      case RunEvent::kCountMissing: Add("stops: " + d + " is missing"); break;
      case RunEvent::kIndexMalformed: Add("stops: the index line or the index's " + d + " is malformed"); break;
      case RunEvent::kIndexFailed:
        Add("stops: the index " + d + " cannot be had with its size and SHA-256" +
            (webRoot_ ? "" : " (no --web-root)"));
        break;
      case RunEvent::kIndexRead: Add("reads the entries from the index " + d); break;
      case RunEvent::kEntryMissing: Add(at + "stops: " + d + " is missing"); break;
      case RunEvent::kEntryUnsafe: Add(at + "stops: refused, " + d); break;
      case RunEvent::kHashMalformed: Add(at + "stops: its hash line is malformed"); break;
      case RunEvent::kHashMissing: Add(at + "stops: it has no hash line, which a signed release needs"); break;
      case RunEvent::kMapMalformed: Add(at + "stops: its map line is malformed"); break;
      case RunEvent::kPackMalformed: Add(at + "stops: its pack line is malformed"); break;
      case RunEvent::kFolderCreated: Add(at + "creates the folder " + d); break;
      case RunEvent::kFolderFailed: Add(at + "stops: the folder " + d + " cannot be created"); break;
      case RunEvent::kFileCurrent: Add(at + "skips " + d + ": already current"); break;
      case RunEvent::kDownloaded:
        Add(at + "downloads " + d);
        AddFetch(at);
        break;
      case RunEvent::kDownloadFailed: Add(at + "stops: the download of " + d + " fails"); break;
      case RunEvent::kInstalled: Add("every entry is in place"); break;
      case RunEvent::kOwnEntryRefused:
        Add(at + "stops: it is the updater's own file, which an updater without a built-in key refuses");
        break;
      case RunEvent::kUpdaterReplaced:
        Add(at + "downloads " + d);
        Add(at + "replaces the updater: the new one runs from the next run on");
        break;
      case RunEvent::kReplaceFailed: Add(at + "stops: the updater is not replaced: " + d); break;
      case RunEvent::kRemovalMalformed:
        Add(entry < 0 ? std::string("stops: the removal list is malformed")
                      : text::Format("removal line %d: stops: its path %s", entry, d.c_str()));
        break;
      case RunEvent::kGoneRemoved: Add("removes " + d); break;
      case RunEvent::kGoneOtherBytes: Add("keeps " + d + ": its bytes are not the published ones"); break;
      case RunEvent::kGoneNothing: Add("nothing at " + d); break;
      case RunEvent::kGoneLeft: Add("keeps " + d + ": a folder, or a file of the release"); break;
    }
  }

  // The last line: every download's bytes together, and every request the run makes.
  void AddTotal() {
    fetches_.push_back(text::Format("fetches in all: %lld bytes%s in %zu requests", static_cast<long long>(total_),
                                    unknown_ ? " and the files without a hash line" : "", platform_.requests));
  }

 private:
  void Add(std::string line) { steps_.push_back(std::move(line)); }
  void AddFetch(const std::string& at) {
    for (std::string& request : platform_.packRequests) fetches_.push_back(at + std::move(request));
    platform_.packRequests.clear();
    total_ += platform_.TakePackBytes();
    const std::optional<Fetch> fetch = platform_.TakeFetch();
    if (fetch && fetch->packed && fetch->ranges == 0) {
      fetches_.push_back(at + "comes from the pack's request");
      return;
    }
    if (!fetch || !fetch->bytes) {
      unknown_ = true;
      fetches_.push_back(at + "fetches the whole file (its size is not in the manifest)");
      return;
    }
    total_ += *fetch->bytes;
    std::string line = text::Format("%sfetches %lld bytes", at.c_str(), static_cast<long long>(*fetch->bytes));
    if (fetch->mapBytes > 0)
      line +=
          text::Format(" (its map %lld bytes, %zu ranges, of a file of %lld bytes)",
                       static_cast<long long>(fetch->mapBytes), fetch->ranges, static_cast<long long>(fetch->fileSize));
    else if (fetch->ranges > 0)
      line += text::Format(" (%zu ranges, of a file of %lld bytes)", fetch->ranges,
                           static_cast<long long>(fetch->fileSize));
    fetches_.push_back(line);
  }

  std::vector<std::string>& steps_;
  bool webRoot_;
  std::vector<std::string>& fetches_;
  FolderPlatform& platform_;
  std::int64_t total_ = 0;
  bool unknown_ = false;
};

}  // namespace

InstallPlan PlanInstall(const std::string& manifest, const fs::path& installDir, const PublicKeys& publicKeys,
                        const std::optional<fs::path>& webRoot, const fs::path& manifestPath) {
  InstallPlan plan;
  FolderPlatform platform(manifest, installDir, webRoot, manifestPath);
  PlanSteps steps(plan.steps, plan.fetches, platform, webRoot.has_value());
  plan.steps.push_back(text::Format("the installed target: version \"%s\", %d bytes",
                                    NameFromServed(platform.GetTargetVersion()).c_str(), platform.GetTargetFileSize()));
  // The platform serves the manifest from its file, at whatever address the run asks.
  UpdateOptions options(manifestPath.string());
  options.publicKeys = publicKeys;
  options.report = &steps;
  plan.result = UpdateRun(platform, options);
  steps.AddTotal();
  return plan;
}
