#include "manifest/removal_lines.hpp"

#include <algorithm>

#include "manifest/helper_file.hpp"
#include "paths/entry_safety.hpp"
#include "paths/install_paths.hpp"
#include "paths/path_identity.hpp"
#include "text/text.hpp"

std::optional<std::int32_t> ParseRemovedCount(std::string_view value) {
  if (value.empty() || value.size() > 6 || (value.front() == '0' && value.size() > 1)) return std::nullopt;
  std::int32_t count = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    count = count * 10 + (c - '0');
  }
  if (count > kRemovalLimit) return std::nullopt;
  return count;
}

std::optional<RemovalLine> ParseRemovalValue(std::string_view value) {
  auto fields = ParseHelperFileValue(value);
  if (!fields) return std::nullopt;
  return RemovalLine{std::move(fields->from), fields->digest};
}

std::string RemovalValue(const RemovalLine& line) { return line.path + " " + HashValue(line.digest); }

std::string UnsafeRemovalReason(std::string_view path) {
  if (path.empty() || (path.front() != '\\' && path.front() != '/'))
    return "does not start with a backslash or a slash";
  // Split as an entry composes it: its to, a separator, its name.
  const text::Pos slash = std::max(text::ReverseFind(path, '\\'), text::ReverseFind(path, '/'));
  const ManifestFileEntry entry{std::string(path.substr(static_cast<std::size_t>(slash) + 1)),
                                {},
                                std::string(path.substr(0, static_cast<std::size_t>(slash)))};
  if (std::string reason = UnsafeEntryReason(entry); !reason.empty()) return reason;
  for (const char* own : {kTargetFileName, kUpdaterFileName})
    if (SamePath(path, std::string("\\") + own)) return std::string("names ") + own;
  return {};
}
