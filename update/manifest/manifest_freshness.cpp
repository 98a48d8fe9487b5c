#include "manifest/manifest_freshness.hpp"

#include "manifest/version_numbers.hpp"

std::optional<ManifestRefusal> StaleManifestRefusal(ManifestReader& reader, std::string_view manifestVersion,
                                                    std::string_view installedVersion, UtcSeconds now) {
  UtcSeconds expires = 0;
  switch (reader.ReadExpiry(expires)) {
    case OptionalLine::kMalformed: return ManifestRefusal{RunEvent::kExpiryMalformed, {}};
    case OptionalLine::kPresent:
      if (now >= expires) return ManifestRefusal{RunEvent::kExpired, UtcTimeText(expires)};
      break;
    case OptionalLine::kAbsent: break;
  }
  const auto offered = ReadVersionNumbers(manifestVersion);
  if (!offered) return ManifestRefusal{RunEvent::kVersionUnreadable, std::string(manifestVersion)};
  const auto installed = ReadVersionNumbers(installedVersion);
  if (installed && *offered < *installed)
    return ManifestRefusal{RunEvent::kOlderRelease, std::string(installedVersion)};
  return std::nullopt;
}
