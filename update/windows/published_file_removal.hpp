// The removal of a file that a release dropped: only when it is byte for byte what was published.
#pragma once

#include <string>

#include "file_digest.hpp"
#include "update_platform.hpp"

// Opens the file so that others may read it but not write, rename or delete it, reads its size
// and SHA-256 through that handle and, when they are `published`'s, deletes it through the same
// handle: no program can change the file between the check and the removal. A folder, a link, a
// file held open by another program or one that cannot be deleted is left.
Removal RemoveIfPublished(const std::string& path, const FileDigest& published);
