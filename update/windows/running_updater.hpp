// What replacing the running updater needs of Windows. Its file cannot be written, replaced or
// removed while it runs, but it can be renamed: aside, then the new file to its name.
#pragma once

#include <string>

#include "file_digest.hpp"

// The updater's own path, its last component spelt as it is on disk so that a rename back to it
// keeps the case; empty when the path does not fit its buffer.
std::string UpdaterModulePath();

// `path` with short components made long, when the file exists; otherwise `path` itself.
std::string LongPath(const std::string& path);

// Downloads the body at `url` to `temporaryPath`, checked and flushed, opening no other file.
// 1 on success; 0 with no file left. A failed write raises FileError.
int DownloadToTemporary(const std::string& url, const std::string& temporaryPath, const FileDigest& expected);

// Renames a file, written through, never over an existing one.
bool RenameFile(const std::string& from, const std::string& to);

// True when no file is left at `path`, also when there was none.
bool RemoveFile(const std::string& path);
