// What `manifest` and `stage` both make of a release folder: the files it lists (all of them, or
// those that changed since a base release), their block maps, and the manifest and release index
// that list them.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "object_store.hpp"

#include "block_maps.hpp"
#include "manifest_writer.hpp"
#include "published_ledger.hpp"
#include "release.hpp"
#include "manifest/utc_time.hpp"

class SigningKey;

struct ReleaseOptions {
  std::filesystem::path root;                  // the release folder
  std::optional<std::filesystem::path> since;  // the base release of a patch
  bool hashes = true;                          // a hash line after every entry
  bool index = false;                          // a release index even when the entries fit in the manifest
  bool maps = true;                            // block maps, given hashes
  const SigningKey* key = nullptr;             // signs the manifest
  std::optional<UtcSeconds> expires = std::nullopt;
  std::optional<std::string> store = std::nullopt;  // the store's URL: its line, and an index always
  bool folders = false;                             // with a store, entries that updaters without it can follow
  std::vector<RemovalLine> ledger = {};             // every file published before (published_ledger.hpp)
  bool keepFiles = false;                           // no removal lines for the ledger's files the release drops
};

// Refuses options that do not combine, then reads the release folder (ScanRelease).
Release ScanReleaseFolder(const ReleaseOptions& options);

struct ReleaseManifest {
  Release listed;                    // the files the manifest lists, with their map lines
  std::vector<std::string> removed;  // files of the base that the release no longer has
  std::vector<BlockMapFile> maps;
  WrittenManifest written;
  std::optional<std::string> updaterNote;  // what a release that carries the updater needs said
};

// The manifest of `release` (from ScanReleaseFolder), whose files are served below `url`. A patch
// always lists its entries in the manifest; so does a store release with folders when they fit. A
// store release without folders lists them in an index, so that an updater that does not know the
// store line never follows update_url; otherwise they go to an index when asked to or when they do
// not fit.
ReleaseManifest ListRelease(const Release& release, const ReleaseOptions& options, std::string_view url);

// Every object of a release for its store: the files it lists outside packs, its index and its maps.
std::vector<StoreObject> StoreObjectsOf(const ReleaseManifest& made, const std::filesystem::path& root);

// Tells the publisher, on `notes`, of every file removed since the base `since`.
// A file that a removal line removes is said to be.
void ReportRemoved(const ReleaseManifest& made, const std::filesystem::path& since, std::ostream& notes);
