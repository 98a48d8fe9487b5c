// The release index that a manifest names by address, SHA-256 and size: the bytes are fetched
// exactly and checked before anything reads them.
#pragma once

#include <string>

#include "helper_file.hpp"

class UpdatePlatform;

enum class IndexFetch { kFetched, kNotFetched, kMismatch };

// Fetches the index `index` names below `url` (update_url, followed directly by its from) into
// `body`. kFetched only for exactly the stated size and SHA-256.
IndexFetch FetchReleaseIndex(UpdatePlatform& platform, const std::string& url, const HelperFile& index,
                             std::string& body);
