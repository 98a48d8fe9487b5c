// A release as the publisher sees it: the target's version and size and every file to ship,
// each with its folder relative to the install folder and, unless left out, its SHA-256 and size.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "file_digest.hpp"
#include "manifest/map_line.hpp"
#include "manifest/pack_line.hpp"
#include "manifest/removal_lines.hpp"

struct ReleaseFile {
  std::string folder;  // "" for the install folder, else "sub/dir"
  std::string name;
  std::optional<FileDigest> digest = std::nullopt;  // written as its hash line when present
  std::optional<MapLine> map = std::nullopt;        // written after the hash line when present
  std::optional<PackLine> pack = std::nullopt;      // the same; never with a map
};

struct Release {
  std::string version;  // FileVersion without spaces
  std::int64_t targetSize = 0;
  std::vector<ReleaseFile> files;
  // Folders every installation already has (a patch's base release), beside those that the
  // entries create; "" stands for the install folder.
  std::vector<std::string> existingFolders = {};
  // Files earlier releases published that this one drops: the removal list after the entries.
  std::vector<RemovalLine> removals = {};
};

// A release the updater could not carry out; the message names the file and the rule.
class PublishError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
