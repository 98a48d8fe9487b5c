// Whether a release folder holds the files a manifest names, as their hash lines state them.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "manifest_check.hpp"

// How a folder's names were read: as a release folder (UTF-8, as stage reads one), or as a
// version folder that stage wrote (the served code page 936 bytes). All-ASCII names read alike.
enum class FolderReading { kReleaseFolder, kStagedFolder, kEither };

// What `check --release` says of the reading it took.
std::string DescribeReading(FolderReading reading);

// Each entry's file is DIR + from + "/" + name, under the one reading of the whole folder that
// finds every entry (or, when none does, the one that finds more): it must be a file, and where
// the entry has a hash line, of that size and SHA-256; where it has a map line, the map found
// beside the manifest at `manifest` must have the stated size and SHA-256 and be that file's map.
// Adds a problem for each one that is not.
FolderReading CheckReleaseFolder(const std::filesystem::path& dir, const std::filesystem::path& manifest,
                                 ManifestCheck& check);

// Where the map a map line names lies beside the manifest file: in MANIFEST.maps/ as `manifest`
// writes it, or in WEB_ROOT/v/VERSION.maps/ for a manifest that `stage` wrote in
// WEB_ROOT/update_go/. Nothing when it is in neither.
std::optional<std::filesystem::path> ServedMapPath(const std::filesystem::path& manifest, const std::string& updateUrl,
                                                   const std::string& from);
