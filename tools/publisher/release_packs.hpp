// Small files of a store release travel in packs: objects that hold many files one after the
// other, so that an updater fetches a run of them with one request. A pack is named by its
// SHA-256 like any object and kept as long as a kept release points into it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "block_maps.hpp"
#include "object_store.hpp"
#include "release.hpp"

// Files of at least one byte and below this size are packed: a file with a block map is never in
// a pack, and every file of 1 MiB or more has one.
inline constexpr std::int64_t kPackThreshold = kBlockMapThreshold;
// A new pack is filled up to this size in manifest order, then the next one begins.
inline constexpr std::int64_t kPackSize = std::int64_t{8} << 20;

struct ReleasePacks {
  std::vector<StoreObject> made;  // new packs, their bytes in memory
  std::vector<FileDigest> kept;   // packs already in the store that the release points into
  std::size_t packedFiles = 0;
};

// Gives every small file of `release` (not the updater's own) its pack line. A file that a pack
// of a recorded release of `webRoot` holds stays there while the release's files in that pack
// are at least half of its bytes; a pack below half is left to be pruned, and the files that no
// pack kept holds go into new packs, in manifest order. Reads the store; writes nothing.
ReleasePacks PackRelease(Release& release, const std::filesystem::path& root, const std::filesystem::path& webRoot);
