// Whether a release folder holds the files a manifest names, as their hash lines state them.
#pragma once

#include <filesystem>

#include "manifest_check.hpp"

// Each entry's file is DIR + from + "/" + name: it must be a file, and where the entry has a hash
// line, of that size and SHA-256. Adds a problem for each one that is not.
void CheckReleaseFolder(const std::filesystem::path& dir, ManifestCheck& check);
