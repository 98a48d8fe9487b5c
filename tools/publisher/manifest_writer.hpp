#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "release.hpp"
#include "manifest/utc_time.hpp"

class SigningKey;

// The order of a manifest's entries: the updater first, the target last, every folder's files
// before those of deeper folders, then by folder and name.
bool EntryOrder(const ReleaseFile& a, const ReleaseFile& b);

// `url` without trailing slashes: the update_url that a manifest for files served below it holds.
std::string UpdateUrlOf(std::string_view url);

// The manifest bytes for `release` served below `url`: the header, then one entry per file,
// ordered so that every folder is created by an earlier entry before a deeper one needs it,
// and the target last, so that an interrupted update never looks current. A file with a digest gets
// its hash line after its to line; given a key, the signature line closes the manifest. Given an
// expiry, its line follows the update_url line. The release's removal lines follow the last entry.
// Throws PublishError for whatever the updater cannot carry out.
std::string WriteManifest(const Release& release, std::string_view url, const SigningKey* key = nullptr,
                          std::optional<UtcSeconds> expires = std::nullopt);

// The release index's from: it is served at update_url followed directly by ".index".
inline constexpr const char* kIndexFrom = ".index";

enum class IndexUse { kWhenNeeded, kAlways, kNever };

struct WrittenManifest {
  std::string manifest;
  std::optional<std::string> index;  // to be served at update_url + kIndexFrom
};

// As WriteManifest, with the entries in a release index when they do not fit in the manifest's
// 5000 bytes (kWhenNeeded) or when asked to (kAlways). The manifest then names the index by its
// SHA-256 and size, and its own list is a count of 1 with no entry: an updater that does not
// read the index line finds entry 0 missing and stops before it touches anything. An index
// needs a hash line for every file.
// Given a `store` URL, the store line follows the update_url line (and the expiry line, when there
// is one): every file named by hash is then fetched from the store. Every file needs a hash line.
WrittenManifest WriteManifestOrIndex(const Release& release, std::string_view url, const SigningKey* key, IndexUse use,
                                     std::optional<UtcSeconds> expires = std::nullopt, std::string_view store = {});
