// What the updater would do with a manifest on a real installation, found by running the
// engine's own update run against the folder with transfers that only record.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "manifest/manifest_signature.hpp"

struct InstallPlan {
  int result = 0;                    // the update run's answer
  std::vector<std::string> steps;    // one line per step, in the run's order
  std::vector<std::string> fetches;  // the bytes each download would fetch, then in all
};

// The installation in `installDir` is named "<install>" in the steps. The target's version is
// read with the project's PE reader, as the updater's probe reads it.
// A release index the manifest names is read from below `webRoot`, as the server would serve it.
// Block maps are read from there too, or beside the manifest file at `manifestPath` (see
// ServedMapPath), and matched against the installed files.
InstallPlan PlanInstall(const std::string& manifest, const std::filesystem::path& installDir,
                        const PublicKeys& publicKeys,
                        const std::optional<std::filesystem::path>& webRoot = std::nullopt,
                        const std::filesystem::path& manifestPath = {});
