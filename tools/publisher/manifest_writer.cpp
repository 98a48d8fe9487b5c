#include "manifest_writer.hpp"

#include <algorithm>
#include <cstdint>
#include <set>
#include <tuple>

#include "crypto.hpp"
#include "paths/entry_safety.hpp"
#include "file_digest.hpp"
#include "paths/install_paths.hpp"
#include "manifest/manifest_signature.hpp"
#include "release_names.hpp"
#include "release_updater.hpp"
#include "signing_key.hpp"
#include "manifest_expiry.hpp"
#include "manifest/manifest_keys.hpp"
#include "manifest/store_line.hpp"
#include "text/text.hpp"
#include "manifest/update_manifest.hpp"
#include "update_run.hpp"
#include "manifest/version_numbers.hpp"

namespace {

std::string Shown(const ReleaseFile& file) { return file.folder.empty() ? file.name : file.folder + "/" + file.name; }

int Depth(const std::string& folder) {
  return folder.empty() ? 0 : 1 + static_cast<int>(std::count(folder.begin(), folder.end(), '/'));
}

std::string Parent(const std::string& folder) {
  const auto slash = folder.rfind('/');
  return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

bool EveryFileHashed(const std::vector<ReleaseFile>& files) {
  return std::all_of(files.begin(), files.end(), [](const ReleaseFile& file) { return file.digest.has_value(); });
}

}  // namespace

bool EntryOrder(const ReleaseFile& a, const ReleaseFile& b) {
  // The updater first, so that a failure after it leaves the rest to the new one.
  if (IsReleaseUpdater(a) != IsReleaseUpdater(b)) return IsReleaseUpdater(a);
  const bool aTarget = a.folder.empty() && a.name == kTargetFileName;
  const bool bTarget = b.folder.empty() && b.name == kTargetFileName;
  if (aTarget != bTarget) return bTarget;
  if (Depth(a.folder) != Depth(b.folder)) return Depth(a.folder) < Depth(b.folder);
  return std::tie(a.folder, a.name) < std::tie(b.folder, b.name);
}

std::string UpdateUrlOf(std::string_view url) {
  while (url.ends_with('/')) url.remove_suffix(1);
  return std::string(url);
}

std::string WriteManifest(const Release& release, std::string_view url, const SigningKey* key,
                          std::optional<UtcSeconds> expires) {
  return WriteManifestOrIndex(release, url, key, IndexUse::kNever, expires).manifest;
}

WrittenManifest WriteManifestOrIndex(const Release& release, std::string_view url, const SigningKey* key, IndexUse use,
                                     std::optional<UtcSeconds> expires, std::string_view store) {
  std::vector<ReleaseFile> files = release.files;
  const std::set<std::string> existing(release.existingFolders.begin(), release.existingFolders.end());
  std::set<std::string> foldersWithFiles = existing;
  foldersWithFiles.insert("");
  bool hasTarget = false;
  for (const ReleaseFile& file : files) {
    const std::string folder = file.folder.empty() ? "" : ServedPath(file.folder, Shown(file));
    const std::string name = ServedName(file.name, Shown(file));
    const std::string to = folder.empty() ? "" : "\\" + text::ReplaceAll(folder, "/", "\\");
    if (const std::string reason = UnsafeEntryReason({name, "/" + folder, to}); !reason.empty())
      throw PublishError(Shown(file) + ": the updater refuses this entry: " + reason);
    if (IsReleaseUpdater(file) && !key) throw PublishError(UnsignedUpdaterRefusal(Shown(file)));
    if (key && !file.digest)
      throw PublishError(Shown(file) + ": a signed manifest needs its hash line, without which a key build refuses it");
    foldersWithFiles.insert(file.folder);
    hasTarget = hasTarget || (file.folder.empty() && file.name == kTargetFileName);
  }
  CheckCaseCollisions(files);
  if (!hasTarget) throw PublishError(std::string(kTargetFileName) + ": the release has no target in its top folder");
  // The updater creates one folder level per entry, so each folder's parent needs a file of its own.
  for (const std::string& folder : foldersWithFiles)
    if (!folder.empty() && !existing.contains(folder) && !foldersWithFiles.contains(Parent(folder)))
      throw PublishError(Parent(folder) + "/: this folder has subfolders but no file of its own" +
                         (existing.empty() ? "" : " in the release or its base") + ", so the updater cannot create " +
                         folder + "/" + "; put a file in " + Parent(folder) + "/");
  if (release.version.empty() || release.version.find_first_of("\r\n") != std::string::npos)
    throw PublishError(std::string(kTargetFileName) + ": its FileVersion is empty or spans lines");
  if (key && !ReadVersionNumbers(release.version))
    throw PublishError(std::string(kTargetFileName) + ": its FileVersion " + NameFromServed(release.version) +
                       " does not read as 1 to 4 numbers from 0 to 65535, separated by , or ., which an updater with "
                       "a built-in key needs to refuse older releases");
  if (release.targetSize > INT32_MAX)
    throw PublishError(std::string(kTargetFileName) + ": larger than the updater can compare (2 GiB)");
  if (url.substr(0, 7) != "http://" || url.find_first_of(" \t\r\n") != std::string_view::npos)
    throw PublishError(std::string(url) + ": the download address must be an http:// URL without white space");
  if (!store.empty()) {
    const std::optional<StoreLine> line = ParseStoreValue(store);
    if (!line || !line->features.empty())
      throw PublishError(std::string(store) +
                         ": not a store's URL, which is http:// and a host, at most 1024 bytes of printable ASCII "
                         "without spaces, ?, #, user information or a trailing slash");
    if (!EveryFileHashed(files)) throw PublishError("a store names every file by its hash line: leave out --no-hashes");
  }

  std::sort(files.begin(), files.end(), EntryOrder);

  const std::string base = UpdateUrlOf(url);
  namespace keys = manifest_key;
  std::string entries = keys::Line(keys::kSize, std::to_string(files.size()));
  bool everyHash = true;
  bool packed = false;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const ReleaseFile& file = files[i];
    const std::string from = file.folder.empty() ? "" : "/" + ServedPath(file.folder);
    const std::string to = text::ReplaceAll(from, "/", "\\");
    const auto n = static_cast<long long>(i);
    entries += keys::Line(keys::kName(n), ServedPath(file.name)) + keys::Line(keys::kFrom(n), from) +
               keys::Line(keys::kTo(n), to);
    if (file.digest) entries += keys::Line(keys::kHash(n), HashValue(*file.digest));
    if (file.digest && file.map) entries += keys::Line(keys::kMap(n), MapValue(*file.map));
    if (file.digest && file.pack) entries += keys::Line(keys::kPack(n), PackValue(*file.pack));
    packed = packed || file.pack.has_value();
    everyHash = everyHash && file.digest.has_value();
  }
  std::string removals;
  if (!release.removals.empty()) {
    if (!everyHash)
      throw PublishError("removal lines need a hash line on every entry: leave out --no-hashes, or give --keep-files");
    removals = keys::Line(keys::kRemoved, std::to_string(release.removals.size()));
    for (std::size_t i = 0; i < release.removals.size(); ++i)
      removals += keys::Line(keys::kGone(static_cast<long long>(i)), RemovalValue(release.removals[i]));
  }
  // Pack lines need an updater that knows packs: the store line says so.
  const std::string header =
      keys::Line(keys::kVersion, release.version) + keys::Line(keys::kFileSize, std::to_string(release.targetSize)) +
      keys::Line(keys::kUrl, base) + (expires ? ExpiryLine(*expires) : "") +
      (store.empty() ? "" : keys::Line(keys::kStore, std::string(store) + (packed ? " packs" : "")));
  // The signature line counts towards the bytes the updater reads, and is as long for every signature.
  const std::size_t signatureSize = key ? SignatureLine(Signature{}).size() : 0;
  const bool fits = header.size() + entries.size() + signatureSize <= kManifestLimit;
  WrittenManifest written;
  std::string manifest = header;
  if (use == IndexUse::kAlways || (use == IndexUse::kWhenNeeded && !fits && everyHash)) {
    if (!everyHash) throw PublishError("a release index needs a hash line for every file: leave out --no-hashes");
    entries += removals;
    const auto digest = Sha256Of(entries);
    if (!digest || entries.size() > static_cast<std::size_t>(kIndexSizeLimit))
      throw PublishError(text::Format("the release index would be %zu bytes; the updater fetches at most %d",
                                      entries.size(), kIndexSizeLimit));
    manifest += keys::Line(keys::kSize, "1") +
                keys::Line(keys::kIndex, std::string(kIndexFrom) + " " +
                                             HashValue({*digest, static_cast<std::int32_t>(entries.size())}));
    written.index = std::move(entries);
  } else {
    manifest += entries;
    // Removal lines never move a release into an index, which updaters that predate it cannot follow.
    if (const std::size_t total = manifest.size() + removals.size() + signatureSize;
        !removals.empty() && total > kManifestLimit)
      throw PublishError(
          text::Format("with its %zu removal lines the manifest would be %zu bytes; the updater reads at "
                       "most %zu, and removal lines never move a release into an index: give "
                       "--keep-files to leave them out",
                       release.removals.size(), total, kManifestLimit));
    manifest += removals;
  }
  const std::size_t total = manifest.size() + signatureSize;
  if (total > kManifestLimit)
    throw PublishError(
        text::Format("the manifest would be %zu bytes; the updater reads at most %zu", total, kManifestLimit));
  if (key) manifest += SignatureLine(key->Sign(manifest));
  written.manifest = std::move(manifest);
  return written;
}
