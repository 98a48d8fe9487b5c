#include "manifest_freshness.hpp"

#include "version_numbers.hpp"

std::optional<ManifestRefusal> StaleManifestRefusal(const ManifestReader& reader, std::string_view manifestVersion,
                                                    std::string_view installedVersion, UtcSeconds now) {
  UtcSeconds expires = 0;
  switch (reader.ReadExpiry(expires)) {
    case ManifestReader::ExpiryLine::kMalformed: return ManifestRefusal{RunEvent::kExpiryMalformed, {}};
    case ManifestReader::ExpiryLine::kPresent:
      if (now >= expires) return ManifestRefusal{RunEvent::kExpired, UtcTimeText(expires)};
      break;
    case ManifestReader::ExpiryLine::kAbsent: break;
  }
  const auto offered = ReadVersionNumbers(manifestVersion);
  if (!offered) return ManifestRefusal{RunEvent::kVersionUnreadable, std::string(manifestVersion)};
  const auto installed = ReadVersionNumbers(installedVersion);
  if (installed && *offered < *installed)
    return ManifestRefusal{RunEvent::kOlderRelease, std::string(installedVersion)};
  return std::nullopt;
}
