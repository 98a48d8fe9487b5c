// A release that carries a new updater in its top folder: only a key build replaces itself, and
// the new updater must trust the key that signs the release, or it would refuse every later one.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "manifest/manifest_signature.hpp"
#include "release.hpp"
#include "updater_trust.hpp"

struct ManifestCheck;

// The host and keys built into the updater file at `path`, read from its PE section. Throws
// PublishError when the file is no updater that says.
UpdaterTrust ReadUpdaterTrust(const std::filesystem::path& path);

// When `release` (scanned from `root`) holds the updater, it must carry `signingKey`. Returns
// what to tell the publisher, or nothing without an updater.
std::optional<std::string> CheckReleaseUpdater(const std::filesystem::path& root, const Release& release,
                                               const PublicKey& signingKey);

// Whether a release file is the updater: in the top folder, named like it whatever the case.
bool IsReleaseUpdater(const ReleaseFile& file);

// check --release: the updater in the release folder must carry a key that the manifest's
// signature holds for. Adds a problem when it does not, and says what it carries.
void CheckReleaseFolderUpdater(const std::filesystem::path& dir, std::string_view manifest, const PublicKeys& keys,
                               ManifestCheck& check);

// Why a release that is not signed cannot carry the updater.
std::string UnsignedUpdaterRefusal(const std::string& name);
