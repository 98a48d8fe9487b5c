// A file that a manifest names by address, SHA-256 and size (the release index, a block map): the
// bytes are fetched exactly and checked before anything reads them.
#pragma once

#include <string>

#include "manifest/helper_file.hpp"

class UpdatePlatform;

// Fetches the file `file` names below `url` (update_url, followed directly by its from) into
// `body`; true only for exactly the stated size and SHA-256.
bool FetchHelperFile(UpdatePlatform& platform, const std::string& url, const HelperFile& file, std::string& body);
