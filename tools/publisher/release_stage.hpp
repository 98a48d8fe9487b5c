// `stage`: a release copied into a web root under the names the server must hold, in a folder
// of its version that never changes, or (with a store) its objects written into the store and the
// release recorded, and only then the manifest that points at it.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>

#include "release_manifest.hpp"

struct StageRequest {
  ReleaseOptions release;
  std::filesystem::path webRoot;
  std::string urlBase;  // where webRoot is served
  bool allowDowngrade = false;
  bool packs = true;  // with a store, small files go into packs (release_packs.hpp)
};

// Validates everything and builds the manifest before the first write; reports what it did to
// `out` and the files removed since the base to `notes`. Throws PublishError when refused,
// leaving the web root as it was. A web root that does not exist is created when its parent
// does. One stage at a time holds the web root.
void StageRelease(const StageRequest& request, std::ostream& out, std::ostream& notes);
