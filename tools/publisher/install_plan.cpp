#include "install_plan.hpp"

#include <cstring>
#include <fstream>
#include <set>
#include <system_error>

#include "crypto.hpp"
#include "file_version_probe.hpp"
#include "install_paths.hpp"
#include "release_names.hpp"
#include "run_report.hpp"
#include "text.hpp"
#include "update_platform.hpp"
#include "update_run.hpp"

namespace fs = std::filesystem;

namespace {

constexpr const char* kInstall = "<install>";

// The updater's platform over a folder on this machine: folders it would create are only
// noted, transfers are assumed to succeed, and what is already on disk is read for real.
class FolderPlatform : public UpdatePlatform {
 public:
  FolderPlatform(std::string manifest, fs::path root) : manifest_(std::move(manifest)), root_(std::move(root)) {}

  int FetchText(const std::string&, char* buffer, std::size_t capacity) override {
    std::memcpy(buffer, manifest_.data(), std::min(capacity, manifest_.size()));
    return 1;
  }
  int FetchExact(const std::string&, std::size_t, std::string&) override { return 0; }
  int DownloadToFile(const std::string&, const std::string&, const FileDigest*) override { return 1; }
  int DownloadWithMap(const std::string&, const std::string&, const FileDigest&,
                      const std::function<std::optional<BlockMap>()>&) override {
    return 1;
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

 private:
  static std::string Target() { return std::string(kInstall) + "\\" + kTargetFileName; }

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
  std::set<std::u32string> created_;
};

// Each step of the run as one line.
class PlanSteps : public RunReport {
 public:
  explicit PlanSteps(std::vector<std::string>& steps) : steps_(steps) {}

  void Report(RunEvent event, int entry, std::string_view detail) override {
    const std::string d(NameFromServed(detail).empty() ? detail : NameFromServed(detail));
    const std::string at = text::Format("entry %d: ", entry);
    switch (event) {
      case RunEvent::kNoInstallFolder: Add("stops: the installation folder is unknown"); break;
      case RunEvent::kFetchFailed: Add("stops: the manifest cannot be fetched"); break;
      case RunEvent::kSignatureRejected: Add("stops: the signature is refused: " + d); break;
      case RunEvent::kHeaderMissing: Add("stops: " + d + " is missing"); break;
      case RunEvent::kTargetCurrent: Add("the target is current: nothing is downloaded"); break;
      case RunEvent::kCountMissing: Add("stops: " + d + " is missing"); break;
      case RunEvent::kEntryMissing: Add(at + "stops: " + d + " is missing"); break;
      case RunEvent::kEntryUnsafe: Add(at + "stops: refused, " + d); break;
      case RunEvent::kHashMalformed: Add(at + "stops: its hash line is malformed"); break;
      case RunEvent::kHashMissing: Add(at + "stops: it has no hash line, which a signed release needs"); break;
      case RunEvent::kMapMalformed: Add(at + "stops: its map line is malformed"); break;
      case RunEvent::kFolderCreated: Add(at + "creates the folder " + d); break;
      case RunEvent::kFolderFailed: Add(at + "stops: the folder " + d + " cannot be created"); break;
      case RunEvent::kFileCurrent: Add(at + "skips " + d + ": already current"); break;
      case RunEvent::kDownloaded: Add(at + "downloads " + d); break;
      case RunEvent::kDownloadFailed: Add(at + "stops: the download of " + d + " fails"); break;
      case RunEvent::kInstalled: Add("every entry is in place"); break;
    }
  }

 private:
  void Add(std::string line) { steps_.push_back(std::move(line)); }
  std::vector<std::string>& steps_;
};

}  // namespace

InstallPlan PlanInstall(const std::string& manifest, const fs::path& installDir,
                        const std::optional<PublicKey>& publicKey) {
  InstallPlan plan;
  FolderPlatform platform(manifest, installDir);
  PlanSteps steps(plan.steps);
  plan.steps.push_back(text::Format("the installed target: version \"%s\", %d bytes",
                                    NameFromServed(platform.GetTargetVersion()).c_str(), platform.GetTargetFileSize()));
  UpdateOptions options{publicKey, &steps};
  plan.result = UpdateRun(platform, options);
  return plan;
}
