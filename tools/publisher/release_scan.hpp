#pragma once

#include <filesystem>

#include "release.hpp"

// Every regular file below `root`, each with its digest when `withDigests`, the target's size and
// its version as the updater reads it. Throws PublishError when the folder, the target or a file to
// digest cannot be read, or a file is too large for its hash line.
Release ScanRelease(const std::filesystem::path& root, bool withDigests);
