// A patch release: the files of a release that an installation of an older one lacks.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "release.hpp"

struct Patch {
  Release release;                   // the changed and new files, the target always among them
  std::vector<std::string> removed;  // files of the base that the release no longer has
};

// `release` (read from `root`) reduced to what differs from `base` (read from `baseRoot`),
// compared as Windows names them (case ignored) and byte for byte. The folders that hold a
// file in the base count as present in every installation; no other folder does.
Patch PatchSince(const Release& release, const std::filesystem::path& root, const Release& base,
                 const std::filesystem::path& baseRoot);
