#include "manifest/map_line.hpp"

std::int64_t LargestMapSize(std::int32_t fileSize) { return std::int64_t{fileSize} / 200 + 4096; }

std::optional<MapLine> ParseMapValue(std::string_view value, std::int32_t fileSize) {
  auto map = ParseHelperFileValue(value);
  if (!map || map->digest.size > LargestMapSize(fileSize)) return std::nullopt;
  return map;
}

std::string MapValue(const MapLine& map) { return map.from + " " + HashValue(map.digest); }
