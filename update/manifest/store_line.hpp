// The store line, `update_store=<URL>[ <feature>...]`: the base of a store that serves every file
// the manifest or its index names by hash, each under "<URL>/<first two hex digits>/<sha256>", so
// that a release can sit on any static host or CDN under ASCII names.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct StoreLine {
  std::string url;                    // http://, no trailing slash
  std::vector<std::string> features;  // in the order the line has them
};

// The longest store URL a line may hold, in bytes.
inline constexpr std::size_t kStoreUrlLimit = 1024;

// The feature words this updater knows. A store that names another one holds what this updater
// cannot read, so the manifest is refused; a feature is added here and nowhere else. "packs": entries
// may be read from pack objects (pack_line.hpp).
inline constexpr std::array<std::string_view, 1> kKnownStoreFeatures{"packs"};

// The line's value, spaces already trimmed: an http:// URL of at most kStoreUrlLimit bytes of
// printable ASCII without "?", "#", user information or a trailing slash, then any feature words,
// each after one space. Nothing when it is not that; unknown features are still read.
std::optional<StoreLine> ParseStoreValue(std::string_view value);

// The first feature of the line that `known` does not hold, if any.
std::optional<std::string> UnknownStoreFeature(const StoreLine& store,
                                               std::span<const std::string_view> known = kKnownStoreFeatures);

// The line in the value form ParseStoreValue reads.
std::string StoreValue(const StoreLine& store);
