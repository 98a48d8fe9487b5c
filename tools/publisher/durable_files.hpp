// Files and folders written so that a crash or a reader never sees them half-done: data is
// flushed before a name points at it, and modes are what a web server's workers can read,
// whatever the umask.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "file_digest.hpp"

// Whether two regular files hold the same bytes.
bool SameBytes(const std::filesystem::path& a, const std::filesystem::path& b);

// A new folder with mode 0755.
void MakeFolder(const std::filesystem::path& folder);

// A copy of `from` at the new path `to`, mode 0644, flushed to disk.
void CopyDurably(const std::filesystem::path& from, const std::filesystem::path& to);

// Flushes a folder's entries (names created, renamed or removed in it).
void SyncFolder(const std::filesystem::path& folder);

// `target` made of `bytes` (mode 0644) through a temporary dot-file beside it, flushed, then
// renamed; the folder is not flushed, so that a caller writing many files flushes each folder once.
void WriteIntoPlace(const std::filesystem::path& target, std::string_view bytes);

// The same for a copy of the file `from`, put in place only when its bytes are `expected`; throws
// PublishError naming it as `shown` when they are not (it changed since it was read).
void CopyIntoPlace(const std::filesystem::path& from, const std::filesystem::path& target, const FileDigest& expected,
                   const std::string& shown);

// Replaces `target` with `bytes` (mode 0644) through a temporary dot-file beside it and a
// rename, then flushes the folder: a reader sees the old file or the new one, never a part.
void ReplaceDurably(const std::filesystem::path& target, std::string_view bytes);
