#include "release_manifest.hpp"

#include "release_patch.hpp"
#include "release_scan.hpp"
#include "release_updater.hpp"
#include "signing_key.hpp"

Release ScanReleaseFolder(const ReleaseOptions& options) {
  if (options.since && options.index)
    throw PublishError("--since and --index do not combine: a patch lists only what changed since one release");
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
  const IndexUse use = options.since ? IndexUse::kNever : options.index ? IndexUse::kAlways : IndexUse::kWhenNeeded;
  made.written = WriteManifestOrIndex(made.listed, url, options.key, use, options.expires);
  if (options.key) made.updaterNote = CheckReleaseUpdater(options.root, made.listed, options.key->Public());
  return made;
}

void ReportRemoved(const std::vector<std::string>& removed, const std::filesystem::path& since, std::ostream& notes) {
  for (const std::string& file : removed)
    notes << "merovast-publish: " << file << ": removed since " << since.string()
          << "; the updater leaves it in installations\n";
}
