// The names a release may use: any characters code page 936 holds, spaces included, but none
// that break a URL path or a Windows name, and no two that Windows would take for one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "release.hpp"

// The code page 936 (GBK) bytes of one UTF-8 name: what the manifest names and the served copy
// holds. Throws PublishError "<shown>: "<name>" <reason>" for a name the rules refuse.
std::string ServedName(std::string_view name, std::string_view shown);

// The same for a path "a/b/c", component by component; `shown` defaults to the path itself.
std::string ServedPath(std::string_view path, std::string_view shown = {});

// A name decoded from code page 936 bytes, as UTF-8; empty when the bytes are no such text.
std::string NameFromServed(std::string_view bytes);

// The key Windows compares names by: every character upper-cased, as its file systems do.
std::u32string CaseKey(std::string_view name);

// Throws PublishError when two names of one folder, files or folders, have the same CaseKey:
// on Windows the second would overwrite or block the first.
void CheckCaseCollisions(const std::vector<ReleaseFile>& files);
