// What Windows makes of a narrow path handed to the ANSI file functions on a Chinese system,
// written independently of the engine so that the fuzzer can judge where a write really lands.
// The bytes are decoded as code page 936 first (a trail byte 0x5C is no separator), then both
// separators, "." and "..", trailing dots and spaces, DOS device names and colons are treated
// as Win32 path normalisation does. Letters are compared without case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct WindowsPath {
  std::string root;                   // "D:" or "\\SERVER\SHARE", upper-cased; empty for a relative path
  std::vector<std::string> segments;  // upper-cased, double-byte characters kept as their two bytes
  bool device = false;                // a segment names a DOS device (CON, NUL, COM1, ...)
  bool colon = false;                 // a colon after the root: a drive change or an alternate stream

  // Whether the path is `folder` itself or below it, and names neither a device nor a stream.
  bool Within(const WindowsPath& folder) const;
  // One text per distinct file or folder: the root and the segments joined by backslashes.
  std::string Key() const;
  // The folder that holds the path; the root itself for a path of one segment.
  WindowsPath Parent() const;
};

WindowsPath NormaliseWindowsPath(std::string_view path);
