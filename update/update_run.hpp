#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include "manifest/manifest_signature.hpp"

class RunReport;
class UpdatePlatform;

// The run reads at most this many bytes of the manifest; the rest is never seen.
inline constexpr std::size_t kManifestLimit = 5000;

struct UpdateOptions {
  // The manifest's address: the caller's, since the engine builds in no server.
  explicit UpdateOptions(std::string url) : manifestUrl(std::move(url)) {}

  std::string manifestUrl;
  // With keys, only a manifest that carries the signature of one of them and a hash for every
  // entry is carried out, only before its expiry and when its version is not older than the
  // target's; and the updater's own entry replaces it.
  PublicKeys publicKeys;
  RunReport* report = nullptr;
};

// The manifest address of an update server: its base address joined with "update.htm".
std::string ManifestUrlOf(const std::string& host);

// Fetches the manifest, decides whether the target is current and, when it is not,
// downloads every listed file below the updater's folder. 1 on success, 0 on failure.
int UpdateRun(UpdatePlatform& platform, const UpdateOptions& options);
