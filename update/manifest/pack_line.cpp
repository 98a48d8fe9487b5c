#include "manifest/pack_line.hpp"

std::optional<PackLine> ParsePackValue(std::string_view value, std::int32_t fileSize) {
  const std::size_t offsetSpace = value.rfind(' ');
  if (offsetSpace == std::string_view::npos || fileSize <= 0) return std::nullopt;
  const auto pack = ParseHashValue(value.substr(0, offsetSpace));
  // The offset has a size's form: the hash-line reader checks it with a stand-in hash before it.
  const auto offset = ParseHashValue(std::string(64, '0').append(value.substr(offsetSpace)));
  if (!pack || !offset) return std::nullopt;
  const auto start = static_cast<std::uint64_t>(offset->size);
  if (start + static_cast<std::uint64_t>(fileSize) > static_cast<std::uint64_t>(pack->size)) return std::nullopt;
  return PackLine{*pack, start};
}

std::string PackValue(const PackLine& pack) { return HashValue(pack.pack) + " " + std::to_string(pack.offset); }
