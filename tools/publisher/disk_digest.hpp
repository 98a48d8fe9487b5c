// The SHA-256 and size of a file on disk, as a hash line states them.
#pragma once

#include <filesystem>
#include <string>

#include "file_digest.hpp"

// Throws PublishError, naming the file as `shown`, when it cannot be read or is larger than the
// 2147483647 bytes a hash line can state.
FileDigest DigestOfFile(const std::filesystem::path& path, const std::string& shown);
