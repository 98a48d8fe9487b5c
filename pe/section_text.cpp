#include "section_text.hpp"

#include <algorithm>

namespace pe {

std::optional<std::string> SectionText(const PeImage& image, std::string_view name) {
  for (const Section& section : image.sections()) {
    if (section.name != name) continue;
    const Bytes bytes = image.bytes();
    if (section.rawOffset > bytes.size() || section.rawSize > bytes.size() - section.rawOffset) return std::nullopt;
    const auto begin = bytes.begin() + section.rawOffset;
    // The file data is padded; the virtual size, when given, is what the section holds.
    const std::uint32_t size = section.virtualSize ? std::min(section.rawSize, section.virtualSize) : section.rawSize;
    const auto end = std::find(begin, begin + size, std::uint8_t{0});
    return std::string(begin, end);
  }
  return std::nullopt;
}

}  // namespace pe
