#include "icon_group.hpp"

#include <algorithm>
#include <array>

namespace pe {
namespace {

constexpr std::uint16_t kIconType = 1;
constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

int Dimension(std::uint8_t stored) { return stored == 0 ? 256 : stored; }

std::uint32_t BigEndian32(Bytes bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 | bytes[3];
}

// Channels per PNG colour type: grey, -, RGB, palette, grey+alpha, -, RGBA.
std::uint16_t PngChannels(std::uint8_t colorType) {
  constexpr std::array<std::uint16_t, 7> channels = {1, 0, 3, 1, 2, 0, 4};
  return colorType < channels.size() ? channels[colorType] : 0;
}

std::optional<IconImageHeader> ParsePng(Bytes data) {
  // Signature, then the IHDR chunk: length, "IHDR", width, height, bit depth, colour type.
  const auto ihdr = Slice(data, kPngSignature.size(), 18);
  if (!ihdr) return std::nullopt;
  const Bytes tag = ihdr->subspan(4, 4);
  if (!std::equal(tag.begin(), tag.end(), "IHDR")) return std::nullopt;
  IconImageHeader header;
  header.png = true;
  header.width = static_cast<std::int32_t>(BigEndian32(ihdr->subspan(8, 4)));
  header.height = static_cast<std::int32_t>(BigEndian32(ihdr->subspan(12, 4)));
  header.bitCount = static_cast<std::uint16_t>((*ihdr)[16] * PngChannels((*ihdr)[17]));
  return header;
}

}  // namespace

std::optional<std::vector<IconGroupEntry>> ParseIconGroup(Bytes data) {
  ByteCursor cursor(data);
  cursor.Skip(2);  // reserved
  const std::uint16_t type = cursor.U16();
  const std::uint16_t count = cursor.U16();
  if (!cursor.ok() || type != kIconType) return std::nullopt;
  std::vector<IconGroupEntry> entries;
  for (std::uint16_t i = 0; i < count; ++i) {
    IconGroupEntry entry;
    entry.width = Dimension(cursor.U8());
    entry.height = Dimension(cursor.U8());
    entry.colorCount = cursor.U8();
    cursor.Skip(1);  // reserved
    entry.planes = cursor.U16();
    entry.bitCount = cursor.U16();
    entry.bytesInResource = cursor.U32();
    entry.iconId = cursor.U16();
    if (!cursor.ok()) return std::nullopt;
    entries.push_back(entry);
  }
  return entries;
}

std::optional<IconImageHeader> ParseIconImage(Bytes data) {
  if (data.size() >= kPngSignature.size() && std::equal(kPngSignature.begin(), kPngSignature.end(), data.begin()))
    return ParsePng(data);
  ByteCursor cursor(data);
  // BITMAPINFOHEADER, or the V4 and V5 headers that begin like it.
  const std::uint32_t headerSize = cursor.U32();
  if (headerSize != 40 && headerSize != 108 && headerSize != 124) return std::nullopt;
  IconImageHeader header;
  header.width = static_cast<std::int32_t>(cursor.U32());
  header.height = static_cast<std::int32_t>(cursor.U32());
  cursor.Skip(2);  // planes
  header.bitCount = cursor.U16();
  if (!cursor.ok()) return std::nullopt;
  return header;
}

}  // namespace pe
