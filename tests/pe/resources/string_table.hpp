// String tables (RT_STRING): blocks of 16 counted UTF-16 strings. String `id` is entry id % 16
// of block id / 16 + 1, and an empty entry is no string at all.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "pe_image.hpp"
#include "resource_directory.hpp"

namespace pe {

using StringBlock = std::array<std::u16string, 16>;

// The 16 entries, or nothing when a string runs past the data. Entries that would start
// after the data's end are empty.
std::optional<StringBlock> ParseStringBlock(Bytes data);

// String `id` in exactly this language.
std::optional<std::u16string> FindStringResource(const PeImage& image, std::uint16_t id, std::uint16_t language);
// String `id` in the language LoadString picks on a system of `systemLanguage`.
std::optional<std::u16string> FindStringResourceForSystem(const PeImage& image, std::uint16_t id,
                                                          std::uint16_t systemLanguage = lang::kChinesePrc);

}  // namespace pe
