// The block maps of a release: one per file of at least kBlockMapThreshold bytes, named by the
// file's SHA-256 and served beside the version folder, so that an updater holding an older copy
// fetches only the blocks it lacks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "release.hpp"

// Below this size a map's extra request costs more than the blocks it could save.
inline constexpr std::int64_t kBlockMapThreshold = std::int64_t{1} << 20;

// Where the maps of a release served at update_url are: update_url followed by this folder.
inline constexpr const char* kMapsSuffix = ".maps";

struct BlockMapFile {
  std::string name;  // in the maps folder
  std::string bytes;
};

// The map of the file at `path`; throws PublishError, naming it as `shown`, when it cannot be read.
std::string BlockMapOfFile(const std::filesystem::path& path, const std::string& shown);

// Gives every file of `release` (read below `root`) with a digest and at least the threshold's
// size its map line, and returns the maps, each once.
std::vector<BlockMapFile> AddBlockMaps(Release& release, const std::filesystem::path& root);

// Throws PublishError when a map of the same name in `folder` holds other bytes: a served map
// never changes. Writes nothing.
void CheckServedMaps(const std::filesystem::path& folder, const std::vector<BlockMapFile>& maps);

// Puts the maps that are missing into `folder` (created when missing), each flushed before its
// name appears. Returns how many were written.
std::size_t WriteBlockMaps(const std::filesystem::path& folder, const std::vector<BlockMapFile>& maps);
