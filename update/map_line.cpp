#include "map_line.hpp"

#include "text.hpp"
#include "update_manifest.hpp"

std::int64_t LargestMapSize(std::int32_t fileSize) { return std::int64_t{fileSize} / 200 + 4096; }

std::optional<MapLine> ParseMapValue(std::string_view value, std::int32_t fileSize) {
  auto map = ParseHelperFileValue(value);
  if (!map || map->digest.size > LargestMapSize(fileSize)) return std::nullopt;
  return map;
}

std::string MapValue(const MapLine& map) { return map.from + " " + HashValue(map.digest); }

OptionalLine ReadMapLine(std::string_view text, std::size_t lineAt, int index, std::int32_t fileSize, MapLine& map) {
  const std::string key = text::Format("update_map%d=", index);
  if (lineAt > text.size() || text.substr(lineAt, key.size()) != key) return OptionalLine::kAbsent;
  const auto value = ReadManifestValue(text, key, static_cast<text::Pos>(lineAt));
  const auto parsed = value ? ParseMapValue(value->value, fileSize) : std::nullopt;
  if (!parsed) return OptionalLine::kMalformed;
  map = *parsed;
  return OptionalLine::kPresent;
}
