// What the updater will do with a manifest, and everything about it that would go wrong.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_digest.hpp"
#include "manifest/helper_file.hpp"
#include "manifest/manifest_signature.hpp"
#include "manifest/update_manifest.hpp"
#include "update_run.hpp"

struct PlannedDownload {
  ManifestFileEntry entry;
  std::string remoteAddress;         // as the updater requests it
  std::string localPath;             // below the install folder, written as "<install>\..."
  std::optional<FileDigest> digest;  // from its hash line
  std::optional<MapLine> map;        // from its map line
  std::optional<PackLine> pack;      // from its pack line
};

struct ManifestCheck {
  bool headerRead = false;
  bool countRead = false;
  bool entriesRead = false;  // every entry the count announces
  UpdateManifest header;
  OptionalLine expiry = OptionalLine::kAbsent;
  UtcSeconds expires = 0;           // when the expiry line is present
  std::optional<StoreLine> store;   // the store line, when well formed
  std::optional<HelperFile> index;  // the release index the manifest names
  std::string indexAddress;
  bool indexRead = false;       // found below the web root with its size and SHA-256
  bool indexUnchecked = false;  // named, but no web root was given to find it: the last problem says so
  UpdateManifest indexCount;
  std::vector<PlannedDownload> downloads;
  std::vector<std::string> problems;  // each starts with "line N: " where a line is to blame
  int updaterEntry = -1;              // the entry that replaces the updater in a key build
  std::vector<RemovalLine> removals;  // the removal list after the last entry, when well formed
};

// Given the public keys of a key build, also what that build refuses: a manifest without the
// valid signature of one of them, a malformed expiry line, a version that does not read as
// numbers and an entry without a hash line. Whether the expiry has passed depends on the day: not
// judged here. Without keys, the updater's own entry is refused as a build without a key refuses
// it. Given the web root that update_url's host serves, also the release index the manifest
// names, with every entry in it; without one, that index is a problem of its own, since nothing
// about it can be said. A manifest with a store line has its index, its files and their maps in
// WEB_ROOT/o/XX/SHA256 whatever the store URL's path, each checked against its size and SHA-256,
// and a packed file's bytes in its pack against its hash line. A removal list must be well formed,
// with a hash line on every entry, and name no file that stays.
ManifestCheck CheckManifest(std::string_view bytes, const PublicKeys& publicKeys = {},
                            const std::optional<std::filesystem::path>& webRoot = std::nullopt);
