#include "release_manifest.hpp"

#include <algorithm>
#include <set>

#include "crypto.hpp"
#include "release_names.hpp"
#include "release_patch.hpp"
#include "release_scan.hpp"
#include "release_updater.hpp"
#include "signing_key.hpp"
#include "text/text.hpp"

Release ScanReleaseFolder(const ReleaseOptions& options) {
  if (options.since && options.index)
    throw PublishError("--since and --index do not combine: a patch lists only what changed since one release");
  if (options.since && options.store)
    throw PublishError("--since and --store do not combine: a store holds each file once whatever the releases share");
  return ScanRelease(options.root, options.hashes);
}

ReleaseManifest ListRelease(const Release& release, const ReleaseOptions& options, std::string_view url) {
  ReleaseManifest made{release, {}, {}, {}, std::nullopt};
  if (options.since) {
    Patch patch = PatchSince(release, options.root, ScanRelease(*options.since, false), *options.since);
    made.listed = std::move(patch.release);
    made.removed = std::move(patch.removed);
  }
  if (options.hashes && options.maps) made.maps = AddBlockMaps(made.listed, options.root);
  // A file that became a folder, or back, is refused even when nothing is to be removed.
  made.listed.removals = DroppedFiles(options.ledger, release);
  if (options.keepFiles) made.listed.removals.clear();
  const bool alwaysIndex = options.index || (options.store && !options.folders);
  const IndexUse use = options.since ? IndexUse::kNever : alwaysIndex ? IndexUse::kAlways : IndexUse::kWhenNeeded;
  made.written = WriteManifestOrIndex(made.listed, url, options.key, use, options.expires, options.store.value_or(""));
  if (options.key) made.updaterNote = CheckReleaseUpdater(options.root, made.listed, options.key->Public());
  return made;
}

std::vector<StoreObject> StoreObjectsOf(const ReleaseManifest& made, const std::filesystem::path& root) {
  std::vector<StoreObject> objects;
  for (const ReleaseFile& file : made.listed.files)
    if (!file.pack)  // a packed file is stored in its pack
      objects.push_back({*file.digest, root / (file.folder.empty() ? file.name : file.folder + "/" + file.name), {}});
  if (const auto& index = made.written.index)
    objects.push_back({{*Sha256Of(*index), static_cast<std::int32_t>(index->size())}, std::nullopt, *index});
  for (const ReleaseFile& file : made.listed.files) {
    if (!file.map) continue;
    const auto map = std::find_if(made.maps.begin(), made.maps.end(),
                                  [&](const BlockMapFile& m) { return m.name == HexOf(file.digest->sha256); });
    objects.push_back({file.map->digest, std::nullopt, map->bytes});
  }
  return objects;
}

void ReportRemoved(const ReleaseManifest& made, const std::filesystem::path& since, std::ostream& notes) {
  std::set<std::string> lines;
  for (const RemovalLine& line : made.listed.removals)
    lines.insert(text::ReplaceAll(NameFromServed(line.path).substr(1), "\\", "/"));
  for (const std::string& file : made.removed)
    notes << "merovast-publish: " << file << ": removed since " << since.string()
          << (lines.contains(file) ? "; a removal line removes it from installations where it has the published bytes\n"
                                   : "; the updater leaves it in installations\n");
}
