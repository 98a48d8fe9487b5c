// The paths the installation probe derives from the updater's own module path.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Module and target paths pass through buffers of 260 bytes: at most 259 bytes and a terminator.
inline constexpr std::size_t kMaxPathBytes = 259;
inline constexpr const char* kTargetFileName = "Ostravine.exe";
// The updater itself. A key build replaces its running file by renaming it aside first.
inline constexpr const char* kUpdaterFileName = UPDATER_FILE_NAME;
inline constexpr const char* kUpdaterAsideName = UPDATER_FILE_NAME ".old";

// The module path up to, not including, its last backslash; the whole path when it has none.
std::string InstallDirFromModulePath(std::string_view modulePath);

// The target beside the module; nothing when the module path has no backslash or the
// target path would not fit its buffer.
std::optional<std::string> TargetPathFromModulePath(std::string_view modulePath);
