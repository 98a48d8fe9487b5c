#include "release_stage.hpp"

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <system_error>
#include <vector>

#include "block_maps.hpp"
#include "durable_files.hpp"
#include "manifest_writer.hpp"
#include "object_store.hpp"
#include "published_ledger.hpp"
#include "release_names.hpp"
#include "release_packs.hpp"
#include "served_file.hpp"
#include "text/text.hpp"
#include "manifest/update_manifest.hpp"
#include "update_run.hpp"
#include "manifest/version_numbers.hpp"
#include "web_root_lock.hpp"

namespace fs = std::filesystem;

namespace {

constexpr const char* kManifestPath = "update_go/update.htm";
constexpr const char* kStagePrefix = ".stage-";

std::string PathOf(const ReleaseFile& file) { return file.folder.empty() ? file.name : file.folder + "/" + file.name; }

// The comma-separated numbers of a FileVersion, or nothing when it is not of that form.
std::optional<std::vector<std::uint64_t>> VersionNumbers(const std::string& version) {
  std::vector<std::uint64_t> numbers;
  for (std::size_t start = 0;;) {
    const std::size_t comma = std::min(version.find(',', start), version.size());
    const std::string part = version.substr(start, comma - start);
    if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    numbers.push_back(std::stoull(part));
    if (comma == version.size()) break;
    start = comma + 1;
  }
  while (numbers.size() > 1 && numbers.back() == 0) numbers.pop_back();
  return numbers;
}

// The version the web root's manifest offers now; empty when there is none.
std::string ServedVersion(const fs::path& manifest) {
  if (!fs::exists(manifest)) return {};
  const std::string bytes = ReadWholeFile(manifest).value_or(std::string());
  ManifestReader reader(bytes);
  UpdateManifest header;
  return reader.ReadHeader(header) ? header.update_version : std::string();
}

void CheckNotOlder(const std::string& served, const std::string& version) {
  if (served.empty() || served == version) return;
  // As the updater with a built-in key reads them, when both read so.
  if (const auto updaterBefore = ReadVersionNumbers(served), updaterNow = ReadVersionNumbers(version);
      updaterBefore && updaterNow) {
    if (*updaterNow > *updaterBefore) return;
    throw PublishError(NameFromServed(version) + " is not newer than the served " + NameFromServed(served) +
                       ": updaters never go back to an older target by themselves; give --allow-downgrade to "
                       "stage it anyway");
  }
  const auto before = VersionNumbers(served), now = VersionNumbers(version);
  if (!before || !now)
    throw PublishError("cannot tell whether " + NameFromServed(version) + " is newer than the served " +
                       NameFromServed(served) + "; give --allow-downgrade to stage it anyway");
  if (*now <= *before)
    throw PublishError(NameFromServed(version) + " is not newer than the served " + NameFromServed(served) +
                       ": updaters never go back to an older target by themselves; give --allow-downgrade to "
                       "stage it anyway");
}

// Whether the version folder holds exactly the release's files (by their served names) and
// bytes; throws when it holds anything else, since a version folder never changes.
bool AlreadyStaged(const fs::path& folder, const fs::path& root, const std::vector<ReleaseFile>& files,
                   const std::vector<std::string>& served, const std::string& shown) {
  std::error_code error;
  if (!fs::exists(fs::symlink_status(folder, error))) return false;
  const std::string refusal = shown +
                              ": already holds other bytes of this version; a version folder never "
                              "changes, so give the release a new FileVersion";
  std::set<std::string> expected(served.begin(), served.end());
  std::size_t found = 0;
  fs::recursive_directory_iterator it(folder, error), end;
  for (; !error && it != end; it.increment(error)) {
    if (it->is_directory() && !it->is_symlink()) continue;
    const std::string relative = it->path().lexically_relative(folder).generic_string();
    if (!it->is_regular_file() || it->is_symlink() || !expected.contains(relative)) throw PublishError(refusal);
    ++found;
  }
  if (error) throw PublishError(shown + ": " + error.message());
  if (found != files.size()) throw PublishError(refusal);
  for (std::size_t i = 0; i < files.size(); ++i)
    if (!SameBytes(root / PathOf(files[i]), folder / served[i])) throw PublishError(refusal);
  return true;
}

// Copies the release into a fresh staging folder of the web root, flushed, and returns it.
fs::path CopyToStaging(const fs::path& webRoot, const fs::path& root, const std::vector<ReleaseFile>& files,
                       const std::vector<std::string>& served) {
  std::string name = (webRoot / (std::string(kStagePrefix) + "XXXXXX")).string();
  if (!::mkdtemp(name.data())) throw PublishError(name + ": cannot be created");
  fs::path staging(name);
  fs::permissions(staging, fs::perms(0755));
  std::set<std::string> folders;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const fs::path target(served[i]);
    for (fs::path folder = target.parent_path(); !folder.empty(); folder = folder.parent_path())
      folders.insert(folder.string());
  }
  for (const std::string& folder : folders) MakeFolder(staging / folder);  // parents sort first
  for (std::size_t i = 0; i < files.size(); ++i) CopyDurably(root / PathOf(files[i]), staging / served[i]);
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) SyncFolder(staging / *it);
  SyncFolder(staging);
  return staging;
}

}  // namespace

void StageRelease(const StageRequest& request, std::ostream& out, std::ostream& notes) {
  const fs::path& root = request.release.root;
  if (request.allowDowngrade && request.release.key)
    throw PublishError(
        "--allow-downgrade with --key: an updater with a built-in key refuses a release older than the installed "
        "one; publish the old code with a new FileVersion instead");
  std::error_code error;
  const bool webRootExists = fs::is_directory(request.webRoot, error);
  const fs::path webRootParent = request.webRoot.has_parent_path() ? request.webRoot.parent_path() : fs::path(".");
  if (!webRootExists &&
      (fs::exists(fs::symlink_status(request.webRoot, error)) || !fs::is_directory(webRootParent, error)))
    throw PublishError(request.webRoot.string() + ": not a folder");
  Release release = ScanReleaseFolder(request.release);
  // Small files go into packs before the manifest that points into them is written.
  const std::optional<ReleasePacks> packs = request.release.store && request.packs
                                                ? std::optional(PackRelease(release, root, request.webRoot))
                                                : std::nullopt;
  std::vector<std::string> served;
  for (const ReleaseFile& file : release.files) served.push_back(ServedPath(PathOf(file)));
  CheckCaseCollisions(release.files);
  const std::string versionName = NameFromServed(release.version);
  ServedName(versionName, "update_version " + versionName);
  const std::string urlBase = UpdateUrlOf(request.urlBase);
  ReleaseOptions options = request.release;
  if (webRootExists) options.ledger = ReadLedger(request.webRoot);
  const ReleaseManifest made = ListRelease(release, options, urlBase + "/v/" + release.version);
  const Release& listed = made.listed;
  const std::vector<BlockMapFile>& maps = made.maps;
  const WrittenManifest& written = made.written;
  const std::string& manifest = written.manifest;
  if (made.updaterNote) out << *made.updaterNote << "\n";

  const fs::path versions = request.webRoot / "v";
  const fs::path folder = versions / release.version;
  const fs::path manifestPath = request.webRoot / kManifestPath;
  const fs::path indexPath = versions / (release.version + ".index");
  const std::string shownFolder = (request.webRoot / "v" / versionName).string();
  const std::string shownIndex = (request.webRoot / "v" / (versionName + ".index")).string();

  // The web root's first change; nothing of a refused release is written into an existing one.
  if (!webRootExists) {
    MakeFolder(request.webRoot);
    SyncFolder(webRootParent);
    out << "created the web root " << request.webRoot.string() << "\n";
  }
  const WebRootLock lock(request.webRoot);
  if (webRootExists && ReadLedger(request.webRoot) != options.ledger)
    throw PublishError((request.webRoot / kLedgerFile).string() + ": changed by another stage meanwhile; stage again");
  if (!request.allowDowngrade) CheckNotOlder(ServedVersion(manifestPath), release.version);
  const std::optional<std::string>& storeUrl = request.release.store;
  // A store release without folders leaves v/ alone: its entries are in the store alone.
  const bool folders = !storeUrl || request.release.folders;
  const bool staged = folders && AlreadyStaged(folder, root, release.files, served, shownFolder);
  const bool indexStaged = folders && written.index && fs::exists(fs::symlink_status(indexPath, error));
  if (indexStaged && ReadWholeFile(indexPath).value_or(std::string()) != *written.index)
    throw PublishError(shownIndex +
                       ": already holds another index of this version; a version never changes, so give the release "
                       "a new FileVersion");
  // Beside the version folder, under a name that is no dot-file and no version.
  const fs::path mapsFolder = versions / (release.version + kMapsSuffix);
  if (folders) CheckServedMaps(mapsFolder, maps);
  const fs::path store = request.webRoot / kStoreFolder;
  std::vector<StoreObject> objects = storeUrl ? StoreObjectsOf(made, root) : std::vector<StoreObject>();
  if (packs) {
    objects.insert(objects.end(), packs->made.begin(), packs->made.end());
    // The packs it keeps were found before the web root was held: still there, or stage again.
    for (const FileDigest& kept : packs->kept)
      if (const std::string problem = ObjectProblem(store, kept); !problem.empty())
        throw PublishError(problem + ": a pack the release points into; stage again");
  }
  const std::vector<StoreObject> missing = MissingObjects(store, objects);

  // The first write: everything above only read.
  for (const fs::directory_entry& entry : fs::directory_iterator(request.webRoot)) {
    if (!entry.path().filename().string().starts_with(kStagePrefix)) continue;
    fs::remove_all(entry.path());
    out << "removed the unfinished staging folder " << entry.path().string() << "\n";
  }
  SyncFolder(request.webRoot);
  RemoveUnfinishedObjects(request.webRoot);
  if (fs::is_directory(manifestPath.parent_path()))  // temporary manifests of a run cut short
    for (const fs::directory_entry& entry : fs::directory_iterator(manifestPath.parent_path()))
      if (entry.path().filename().string().starts_with("." + manifestPath.filename().string() + "-"))
        fs::remove(entry.path());
  if (folders && staged) {
    out << shownFolder << " already holds this release byte for byte: nothing copied\n";
  } else if (folders) {
    const fs::path staging = CopyToStaging(request.webRoot, root, release.files, served);
    if (!fs::exists(versions)) MakeFolder(versions);
    fs::rename(staging, folder);
    SyncFolder(versions);
    SyncFolder(request.webRoot);
    std::uintmax_t bytes = 0;
    for (const ReleaseFile& file : release.files) bytes += fs::file_size(root / PathOf(file));
    out << "copied " << release.files.size() << " files (" << bytes << " bytes) of " << versionName << " to "
        << shownFolder << "\n";
  }
  // The maps before the manifest that names them.
  if (const std::size_t mapsWritten = folders ? WriteBlockMaps(mapsFolder, maps) : 0; mapsWritten > 0) {
    SyncFolder(versions);
    out << "wrote " << mapsWritten << " block maps to " << (versions / (versionName + kMapsSuffix)).string() << "\n";
  }
  if (folders && written.index && !indexStaged) {
    if (!fs::exists(versions)) MakeFolder(versions);
    ReplaceDurably(indexPath, *written.index);
  }
  if (folders && written.index)
    out << (indexStaged ? shownIndex + " already holds this index byte for byte" : "wrote " + shownIndex) << " ("
        << listed.files.size() << " entries, " << written.index->size()
        << " bytes): the manifest names it by its SHA-256\n";
  if (storeUrl) {
    const std::uintmax_t bytes = WriteObjects(store, missing);
    std::set<Sha256Digest> distinct;
    for (const StoreObject& object : objects) distinct.insert(object.digest.sha256);
    out << "stored " << missing.size() << " objects (" << bytes << " bytes) in " << store.string() << ", "
        << distinct.size() - missing.size() << " of the release's " << distinct.size() << " already there\n";
    if (packs && packs->packedFiles > 0)
      out << "packed " << packs->packedFiles << " files of less than " << kPackThreshold
          << " bytes: " << packs->made.size() << " new packs, " << packs->kept.size()
          << " kept from earlier releases\n";
    out << "recorded the release as " << RecordRelease(request.webRoot, manifest).string() << "\n";
  }
  // Before the manifest that serves them: a file served but not in the ledger would never be removed.
  const std::vector<RemovalLine> ledger = WithRelease(options.ledger, release);
  if (ledger != options.ledger) WriteLedger(request.webRoot, ledger);
  if (!fs::exists(manifestPath.parent_path())) {
    MakeFolder(manifestPath.parent_path());
    SyncFolder(request.webRoot);
  }
  ReplaceDurably(manifestPath, manifest);
  if (const auto& since = request.release.since) {
    out << "the manifest lists " << listed.files.size() << " of the " << release.files.size()
        << " files: those that differ from " << since->string() << ", and the target\n";
    ReportRemoved(made, *since, notes);
  }
  if (const std::size_t removals = made.listed.removals.size(); removals > 0)
    out << "the manifest has " << removals << " removal line(s): installations remove the files the release dropped "
        << "where they hold the published bytes (--keep-files leaves them out)\n";
  out << "wrote " << manifestPath.string() << " (update_url=" << urlBase << "/v/" << versionName
      << (storeUrl ? ", update_store=" + *storeUrl : std::string()) << "): " << manifest.size() << " of the "
      << kManifestLimit << " bytes the updater reads\n";
}
