// An entry's map line, `update_map<i>=<from> <sha256> <size>`: where the entry's block map is
// served (after update_url) and the map's SHA-256 and size. It counts only where it stands
// directly after the entry's hash line, in a manifest or wherever entries stand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "file_digest.hpp"
#include "manifest/helper_file.hpp"

// Where the map is served and the map's own SHA-256 and size.
using MapLine = HelperFile;

// The largest map a file of `fileSize` bytes may state.
std::int64_t LargestMapSize(std::int32_t fileSize);

// A map line's value, spaces trimmed: read from the right, the last two space-separated fields
// are the SHA-256 and the size as a hash line has them, everything before them the from, which
// must not be empty. Nothing when it is not that, or the size is above LargestMapSize.
std::optional<MapLine> ParseMapValue(std::string_view value, std::int32_t fileSize);

// The map line in the value form ParseMapValue reads.
std::string MapValue(const MapLine& map);
