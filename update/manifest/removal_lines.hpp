// The removal list: `update_removed=N`, then `update_gone0=` to `update_gone<N-1>=`, each
// "<path> <sha256> <size>" read from the right. Each names a file that a release dropped, as an
// entry composes its path (its to and name), with one size and SHA-256 the publisher shipped there.
// It stands directly after the last entry's last line; after a successful run, a file is removed only
// when it is byte for byte a line's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "file_digest.hpp"

struct RemovalLine {
  std::string path;  // below the updater's folder, starting with "\" or "/"; may hold spaces
  FileDigest digest;
  bool operator==(const RemovalLine&) const = default;
};

// The most lines a list may have: each costs a look at the disk after the entries.
inline constexpr std::int32_t kRemovalLimit = 100000;

// The count's value: a decimal from 0 to kRemovalLimit without sign or leading zeros.
std::optional<std::int32_t> ParseRemovedCount(std::string_view value);

// A line's value, spaces trimmed; nothing when it is not "<path> <sha256> <size>".
std::optional<RemovalLine> ParseRemovalValue(std::string_view value);

// The line in the value form ParseRemovalValue reads.
std::string RemovalValue(const RemovalLine& line);

// Why the path may not stand on a removal line, by its spelling: one an entry may not name
// (entry_safety.hpp), or the target, the updater or its aside file. Empty when it may. The run
// also compares it, as Windows resolves it, with the release's own files.
std::string UnsafeRemovalReason(std::string_view path);
