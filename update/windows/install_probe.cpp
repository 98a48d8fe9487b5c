#include "install_probe.hpp"

#include <windows.h>

#include <cstring>
#include <optional>
#include <vector>

#include "paths/install_paths.hpp"
#include "text/text.hpp"
#include "win_handle.hpp"

std::optional<std::string> ModulePath() {
  char buffer[kMaxPathBytes + 1] = {};
  const DWORD length = ::GetModuleFileNameA(::GetModuleHandleA(nullptr), buffer, kMaxPathBytes);
  if (length == 0 || length >= kMaxPathBytes) return std::nullopt;
  return std::string(buffer, length);
}

namespace {

std::optional<std::string> TargetPath() {
  const auto module = ModulePath();
  return module ? TargetPathFromModulePath(*module) : std::nullopt;
}

}  // namespace

std::string GetInstallDir() {
  const auto module = ModulePath();
  return module ? InstallDirFromModulePath(*module) : std::string();
}

std::int32_t GetTargetFileSize() {
  const auto target = TargetPath();
  if (!target) return -1;
  // Without sharing, so a target that is open anywhere (running, say) counts as unreadable.
  FileHandle file = OpenFile(target->c_str(), GENERIC_READ, OPEN_EXISTING);
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size)) return -1;
  return static_cast<std::int32_t>(size.QuadPart);
}

std::string GetTargetVersion() {
  const auto target = TargetPath();
  if (!target) return {};
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(target->c_str(), &ignored);
  if (size == 0) return {};
  std::vector<char> block(size);
  if (!::GetFileVersionInfoA(target->c_str(), 0, size, block.data())) return {};
  char query[] = "\\StringFileInfo\\080404b0\\FileVersion";
  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(block.data(), query, &value, &length) || value == nullptr) return {};
  const char* version = static_cast<const char*>(value);
  return text::RemoveAll(std::string(version, ::strnlen(version, length)), ' ');
}
