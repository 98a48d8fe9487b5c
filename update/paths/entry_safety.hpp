// Where a manifest entry's file comes from and goes to, and whether it keeps its file below the
// updater's folder.
#pragma once

#include "manifest/update_manifest.hpp"

#include <string>
#include <string_view>

// Why the entry would write outside the install folder or to a device; empty when it is
// safe. Components are split at both "\" and "/".
std::string UnsafeEntryReason(const ManifestFileEntry& entry);

inline bool IsSafeEntry(const ManifestFileEntry& entry) { return UnsafeEntryReason(entry).empty(); }

// Where it is installed: the install folder, its to, "\" and its name.
std::string EntryLocalPath(std::string_view installDir, const ManifestFileEntry& entry);

// Whether an entry installed at `localPath` is the updater's own running file at `modulePath`,
// which only a key build replaces. Never without a module path.
bool IsUpdaterEntry(std::string_view localPath, std::string_view modulePath);
