// The raw bytes of a named section, such as the record an updater build keeps of the server host
// and the keys it trusts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "pe_image.hpp"

namespace pe {

// The file data of the first section called `name`, up to its first zero byte; nothing when
// there is no such section or its data lies outside the file.
std::optional<std::string> SectionText(const PeImage& image, std::string_view name);

}  // namespace pe
