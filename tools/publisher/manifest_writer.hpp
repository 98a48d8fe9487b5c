#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "release.hpp"
#include "utc_time.hpp"

class SigningKey;

// The manifest bytes for `release` served below `url`: the header, then one entry per file,
// ordered so that every folder is created by an earlier entry before a deeper one needs it,
// and the target last, so that an interrupted update never looks current. A file with a digest gets
// its hash line after its to line; given a key, the signature line closes the manifest. Given an
// expiry, its line follows the update_url line.
// Throws PublishError for whatever the updater cannot carry out.
std::string WriteManifest(const Release& release, std::string_view url, const SigningKey* key = nullptr,
                          std::optional<UtcSeconds> expires = std::nullopt);
