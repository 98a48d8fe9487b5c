// Names derived from the executable's own path. Paths are ANSI text; splitting steps over
// double-byte characters, whose second byte may look like a backslash.
#pragma once

#include <string>
#include <string_view>

// "C:\dir\Merovast.exe" -> "Merovast".
std::string ApplicationTitle(std::string_view modulePath);

// "C:\dir\Merovast.exe" -> "C:\dir\Merovast.HLP".
std::string HelpFilePath(std::string_view modulePath);
