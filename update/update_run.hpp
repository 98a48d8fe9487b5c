#pragma once

#include <optional>
#include <string>

#include "manifest_signature.hpp"

class RunReport;
class UpdatePlatform;

struct UpdateOptions {
  // With a key, only a manifest that carries the key's signature and a hash for every entry is
  // carried out, and only before its expiry and when its version is not older than the target's.
  std::optional<PublicKey> publicKey;
  RunReport* report = nullptr;
};

// The manifest address: the update server's base address joined with "update.htm".
std::string ManifestUrl();

// Fetches the manifest, decides whether the target is current and, when it is not,
// downloads every listed file below the updater's folder. 1 on success, 0 on failure.
int UpdateRun(UpdatePlatform& platform, const UpdateOptions& options = {});
