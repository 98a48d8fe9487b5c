#pragma once

#include <optional>
#include <string>

#include "manifest_signature.hpp"

class RunReport;
class UpdatePlatform;

struct UpdateOptions {
  // With keys, only a manifest that carries the signature of one of them and a hash for every
  // entry is carried out, only before its expiry and when its version is not older than the
  // target's; and the updater's own entry replaces it.
  PublicKeys publicKeys;
  RunReport* report = nullptr;
  // The manifest's address; empty for ManifestUrl().
  std::string manifestUrl;
};

// The manifest address: the update server's base address joined with "update.htm".
std::string ManifestUrlOf(const std::string& host);
// The same for the host the engine was configured with.
std::string ManifestUrl();

// Fetches the manifest, decides whether the target is current and, when it is not,
// downloads every listed file below the updater's folder. 1 on success, 0 on failure.
int UpdateRun(UpdatePlatform& platform, const UpdateOptions& options = {});
