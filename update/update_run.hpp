#pragma once

#include <string>

class UpdatePlatform;

// The manifest address: the update server's base address joined with "update.htm".
std::string ManifestUrl();

// Fetches the manifest, decides whether the target is current and, when it is not,
// downloads every listed file below the updater's folder. 1 on success, 0 on failure.
int UpdateRun(UpdatePlatform& platform);
