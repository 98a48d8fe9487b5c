#include "file_version_probe.hpp"

#include <algorithm>

#if !defined(_WIN32)
#include "ansi936.hpp"
#endif

namespace pe {

namespace {
constexpr std::uint16_t kVersionInfoId = 1;
}  // namespace

std::optional<VersionInfo> ReadVersionInfo(const PeImage& image, std::uint16_t systemLanguage) {
  const auto resource = LocateResourceForSystem(image, rt::kVersion, kVersionInfoId, systemLanguage);
  if (!resource) return std::nullopt;
  return VersionInfo::Parse(resource->data);
}

std::u16string ProbeFileVersionUtf16(const PeImage& image, std::u16string_view table) {
  const auto info = ReadVersionInfo(image);
  if (!info) return {};
  std::u16string version = info->FindString(table, u"FileVersion").value_or(std::u16string());
  std::erase(version, u' ');
  return version;
}

#if !defined(_WIN32)
std::string ProbeFileVersion(const std::filesystem::path& file, std::u16string_view table) {
  const auto image = PeImage::Load(file);
  if (!image) return {};
  // Removing U+0020 before the conversion is the same as removing 0x20 after it: no GBK
  // trail byte is 0x20.
  return ToAnsi936(ProbeFileVersionUtf16(*image, table));
}
#endif

}  // namespace pe
