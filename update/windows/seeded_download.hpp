// A download that starts from what is already on disk: the old file, read through the handle
// that holds it, and the seed a killed run left. With a block map, every block they hold is
// copied and the rest asked for in ranges; without one, a seed that is a prefix of the new file
// is resumed with one range. Any unexpected answer ends in one whole download, and the file is
// put in place only with the expected size and SHA-256.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "block_map.hpp"
#include "file_digest.hpp"

// `map` (may be null: resume only) is asked only when there is a file to search.
int DownloadWithSeeds(const std::string& url, const std::string& localPath, const FileDigest& expected,
                      const std::function<std::optional<BlockMap>()>* map);

// Whether a killed run left something beside `localPath` that a download could start from.
bool HasSeed(const std::string& localPath);
