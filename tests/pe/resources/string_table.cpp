#include "string_table.hpp"

namespace pe {
namespace {

std::uint16_t BlockId(std::uint16_t id) { return static_cast<std::uint16_t>(id / 16 + 1); }

std::optional<std::u16string> Entry(const std::optional<Resource>& block, std::uint16_t id) {
  if (!block) return std::nullopt;
  const auto strings = ParseStringBlock(block->data);
  if (!strings || (*strings)[id % 16].empty()) return std::nullopt;
  return (*strings)[id % 16];
}

}  // namespace

std::optional<StringBlock> ParseStringBlock(Bytes data) {
  StringBlock strings;
  ByteCursor cursor(data);
  for (std::u16string& string : strings) {
    if (cursor.remaining() == 0) break;  // entries after the data's end are empty
    const std::uint16_t length = cursor.U16();
    for (std::uint16_t i = 0; i < length && cursor.ok(); ++i) string.push_back(static_cast<char16_t>(cursor.U16()));
  }
  if (!cursor.ok()) return std::nullopt;
  return strings;
}

std::optional<std::u16string> FindStringResource(const PeImage& image, std::uint16_t id, std::uint16_t language) {
  return Entry(LocateResource(image, rt::kString, BlockId(id), language), id);
}

std::optional<std::u16string> FindStringResourceForSystem(const PeImage& image, std::uint16_t id,
                                                          std::uint16_t systemLanguage) {
  return Entry(LocateResourceForSystem(image, rt::kString, BlockId(id), systemLanguage), id);
}

}  // namespace pe
