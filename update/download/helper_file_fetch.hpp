// A file that a manifest names by address, SHA-256 and size (the release index, a block map): the
// bytes are fetched exactly and checked before anything reads them.
#pragma once

#include <string>

#include "download/download_plan.hpp"
#include "manifest/helper_file.hpp"

class UpdatePlatform;

// Fetches the file `file` names into `body`, from HelperFileAddress: below update_url, followed
// directly by its from, or from the release's store. True only for exactly the stated size and
// SHA-256.
bool FetchHelperFile(UpdatePlatform& platform, const ServedRelease& release, const HelperFile& file, std::string& body);
