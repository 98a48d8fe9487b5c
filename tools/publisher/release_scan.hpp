#pragma once

#include <filesystem>

#include "release.hpp"

// Every regular file below `root`, the target's size and its version as the updater reads it.
// Throws PublishError when the folder or the target cannot be read.
Release ScanRelease(const std::filesystem::path& root);
