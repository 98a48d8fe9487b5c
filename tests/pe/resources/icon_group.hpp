// Icons: the group directory (RT_GROUP_ICON) and the header of each image (RT_ICON).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "byte_cursor.hpp"

namespace pe {

struct IconGroupEntry {
  int width = 0;   // a stored 0 means 256
  int height = 0;  // a stored 0 means 256
  std::uint8_t colorCount = 0;
  std::uint16_t planes = 0;
  std::uint16_t bitCount = 0;
  std::uint32_t bytesInResource = 0;
  std::uint16_t iconId = 0;  // the RT_ICON resource holding the image
};

// The entries of an icon group, or nothing when it is no icon group (a cursor group, say)
// or runs past its data.
std::optional<std::vector<IconGroupEntry>> ParseIconGroup(Bytes data);

struct IconImageHeader {
  bool png = false;
  // A BITMAPINFOHEADER's width and height (its height counts the colour and the mask bitmaps,
  // so twice the icon's), or a PNG's from its IHDR chunk.
  std::int32_t width = 0;
  std::int32_t height = 0;
  // The bitmap's bits per pixel; for a PNG, its bit depth times its channels.
  std::uint16_t bitCount = 0;
};

std::optional<IconImageHeader> ParseIconImage(Bytes data);

}  // namespace pe
