// An entry's pack line, `update_pack<i>=<sha256> <size> <offset>`: the entry's bytes are the
// entry's size of bytes from `offset` of the pack object of that SHA-256 and size in the store.
// Small files travel in packs so that one request carries many of them. It counts only where it
// stands directly after the entry's hash line, and never together with a map line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "file_digest.hpp"

struct PackLine {
  FileDigest pack;  // the pack object's SHA-256 and size
  std::uint64_t offset = 0;
};

// A pack line's value, spaces trimmed: a hash line's value for the pack, one space and the offset
// as a hash line writes a size. Nothing when it is not that, when the file is empty or when its
// `fileSize` bytes from the offset run past the pack's end.
std::optional<PackLine> ParsePackValue(std::string_view value, std::int32_t fileSize);

// The pack line in the value form ParsePackValue reads.
std::string PackValue(const PackLine& pack);
