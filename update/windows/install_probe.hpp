// What the updater knows about the installation it sits in: its own folder and the
// installed target "Ostravine.exe" beside it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The running program's own path, read through a buffer of kMaxPathBytes; nothing when it does
// not fit: the platform cuts a longer path short, and a folder or name taken from that would be
// some other one.
std::optional<std::string> ModulePath();

// The updater's folder, without a trailing backslash; empty when the module path does not
// fit its buffer (the folder would be some other folder).
std::string GetInstallDir();
// The target's size in bytes, or -1 when it cannot be opened without sharing.
std::int32_t GetTargetFileSize();
// The target's Chinese (PRC) FileVersion with every space removed, or empty text.
std::string GetTargetVersion();
