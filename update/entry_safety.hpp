// Whether a manifest entry keeps its file below the updater's folder.
#pragma once

#include "update_manifest.hpp"

#include <string>

// Why the entry would write outside the install folder or to a device; empty when it is
// safe. Components are split at both "\" and "/".
std::string UnsafeEntryReason(const ManifestFileEntry& entry);

inline bool IsSafeEntry(const ManifestFileEntry& entry) { return UnsafeEntryReason(entry).empty(); }
