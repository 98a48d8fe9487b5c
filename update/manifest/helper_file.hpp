// A file the manifest names beside the release's own files, such as the release index: where it
// is served and what it must hold. Its line's value is a field list read from the right:
// "<from> <sha256> <size>", where <from> is everything before the last two fields.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "file_digest.hpp"

struct HelperFile {
  std::string from;  // appended to update_url, like an entry's from; never empty, may hold spaces
  FileDigest digest;
};

// The line's value, spaces already trimmed; nothing when it is not of that form.
std::optional<HelperFile> ParseHelperFileValue(std::string_view value);

// Whether `body` is the file the line names: exactly its size and its SHA-256.
bool IsHelperFileBody(const HelperFile& file, std::string_view body);
