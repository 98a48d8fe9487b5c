// What the updater will do with a manifest, and everything about it that would go wrong.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_digest.hpp"
#include "manifest_signature.hpp"
#include "update_manifest.hpp"

struct PlannedDownload {
  ManifestFileEntry entry;
  std::string remoteAddress;         // as the updater requests it
  std::string localPath;             // below the install folder, written as "<install>\..."
  std::optional<FileDigest> digest;  // from its hash line
  std::optional<MapLine> map;        // from its map line
};

struct ManifestCheck {
  bool headerRead = false;
  bool countRead = false;
  bool entriesRead = false;  // every entry the count announces
  UpdateManifest header;
  std::vector<PlannedDownload> downloads;
  std::vector<std::string> problems;  // each starts with "line N: " where a line is to blame
};

// The updater reads at most this many bytes of the manifest.
inline constexpr std::size_t kManifestLimit = 5000;

// Given the public key of a key build, also what that build refuses: a manifest without a
// valid signature and an entry without a hash line.
ManifestCheck CheckManifest(std::string_view bytes, const std::optional<PublicKey>& publicKey = std::nullopt);
