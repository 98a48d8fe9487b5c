// What a manifest's hash line states about one file: its SHA-256 and its size in bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using Sha256Digest = std::array<std::uint8_t, 32>;

struct FileDigest {
  Sha256Digest sha256{};
  std::int32_t size = 0;

  bool operator==(const FileDigest&) const = default;
};

// 64 lower-case hexadecimal digits.
std::string HexOf(const Sha256Digest& digest);

// A hash line's value, spaces already trimmed: exactly 64 characters of [0-9a-f], one space and
// 1 to 10 digits without sign or leading zero, at most 2147483647. Nothing when it is not that.
std::optional<FileDigest> ParseHashValue(std::string_view value);

// The value in the form ParseHashValue reads.
std::string HashValue(const FileDigest& digest);
