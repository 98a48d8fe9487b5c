// What a key build refuses once a signed manifest's header is read, before it asks whether the
// target is current: a manifest past its expiry (a freeze would serve one under which the
// installation looks current) and an older release than the one installed (a replay).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "run_report.hpp"
#include "manifest/update_manifest.hpp"
#include "manifest/utc_time.hpp"

struct ManifestRefusal {
  RunEvent event;
  std::string detail;
};

// `installedVersion` is the target's version text; one that does not read as numbers (no
// target, no version block) has nothing to protect. An equal version goes on, so that an
// installation of the current version with other bytes is repaired.
std::optional<ManifestRefusal> StaleManifestRefusal(ManifestReader& reader, std::string_view manifestVersion,
                                                    std::string_view installedVersion, UtcSeconds now);
