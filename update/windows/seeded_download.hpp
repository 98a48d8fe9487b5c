// A download that starts from what is already on disk: the old file, read through the handle
// that holds it, and the partial download a killed run left. The plan of what to copy and what
// to fetch is the engine's; this side opens the files and carries out its steps, and the file is
// put in place only with the expected size and SHA-256.
#pragma once

#include <memory>
#include <string>

#include "download/download_plan.hpp"
#include "file_digest.hpp"

// What lies beside `localPath` that a download could start from.
SeedsOnDisk FindSeeds(const std::string& localPath);

// Holds the old file and the seed of `localPath` and creates the new file beside it; null when
// the destination cannot be held.
std::unique_ptr<Replacement> OpenSeeds(const std::string& localPath, const FileDigest& expected);
