// The FileVersion string as the updater's probe reads it from the target: the version block
// that Windows loads on a Chinese (PRC) system, the string table asked for, every space removed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "pe_image.hpp"
#include "resource_directory.hpp"
#include "version_info.hpp"

namespace pe {

inline constexpr std::u16string_view kProbeTable = u"080404b0";

// The version block GetFileVersionInfo loads: RT_VERSION 1 in the language Windows picks.
std::optional<VersionInfo> ReadVersionInfo(const PeImage& image, std::uint16_t systemLanguage = lang::kChinesePrc);

// FileVersion of `table` with every space removed; empty when the block, the table or the
// string is missing.
std::u16string ProbeFileVersionUtf16(const PeImage& image, std::u16string_view table = kProbeTable);

#if !defined(_WIN32)
// The same in code page 936, as GetFileVersionInfoA and VerQueryValueA give it on a Chinese
// system; empty also when the file cannot be read or is no PE image.
std::string ProbeFileVersion(const std::filesystem::path& file, std::u16string_view table = kProbeTable);
#endif

}  // namespace pe
