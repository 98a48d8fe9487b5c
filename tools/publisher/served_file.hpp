// A file as the server of a web root serves it: the path of an http:// address taken as a path
// below the web root, byte for byte (the updater sends GBK names as they are).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The file for `address` below `webRoot`; nothing when the address has no path, or a path with a
// ".." component, or names no regular file.
std::optional<std::filesystem::path> ServedFile(const std::filesystem::path& webRoot, std::string_view address);

// The bytes of the file at `path`, or nothing when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

// Its bytes, or nothing when it is not there or cannot be read.
std::optional<std::string> ReadServedFile(const std::filesystem::path& webRoot, std::string_view address);
