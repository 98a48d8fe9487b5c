// What the updater will do with a manifest, and everything about it that would go wrong.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "update_manifest.hpp"

struct PlannedDownload {
  ManifestFileEntry entry;
  std::string remoteAddress;  // as the updater requests it
  std::string localPath;      // below the install folder, written as "<install>\..."
};

struct ManifestCheck {
  bool headerRead = false;
  bool countRead = false;
  UpdateManifest header;
  std::vector<PlannedDownload> downloads;
  std::vector<std::string> problems;  // each starts with "line N: " where a line is to blame
};

ManifestCheck CheckManifest(std::string_view bytes);
