// Whether two narrow paths name one file, as the updater must know for its own entry: Windows
// ignores case, "." components, doubled separators and trailing dots and spaces.
#pragma once

#include <string>
#include <string_view>

// The path with "/" read as "\", empty and "." components dropped, ".." taking the component
// before it away, trailing dots and spaces cut from each component, and ASCII letters upper-cased except the trail
// bytes of double-byte characters (a trail byte 0x5C is no separator either).
std::string PathIdentity(std::string_view path);

inline bool SamePath(std::string_view a, std::string_view b) { return PathIdentity(a) == PathIdentity(b); }
