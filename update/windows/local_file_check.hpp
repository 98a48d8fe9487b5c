// Whether a file already in the installation is the one a manifest's hash line describes.
#pragma once

#include <string>

#include "file_digest.hpp"

// Reads the file with others allowed to read and write it too, as a log that the application
// keeps open; a folder, a missing file, one that cannot be read or one of another size or
// SHA-256 is not current.
bool IsFileCurrent(const std::string& path, const FileDigest& expected);
