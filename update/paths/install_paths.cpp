#include "paths/install_paths.hpp"

#include "text/text.hpp"

std::string InstallDirFromModulePath(std::string_view modulePath) {
  const text::Pos slash = text::ReverseFind(modulePath, '\\');
  return slash == text::kNotFound ? std::string(modulePath) : text::Mid(modulePath, 0, slash);
}

std::optional<std::string> TargetPathFromModulePath(std::string_view modulePath) {
  const text::Pos slash = text::ReverseFind(modulePath, '\\');
  if (slash == text::kNotFound) return std::nullopt;
  std::string target = text::Mid(modulePath, 0, slash + 1) + kTargetFileName;
  if (target.size() > kMaxPathBytes) return std::nullopt;
  return target;
}
