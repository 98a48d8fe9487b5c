#include "published_ledger.hpp"

#include <algorithm>
#include <set>
#include <sstream>

#include "durable_files.hpp"
#include "paths/path_identity.hpp"
#include "release_names.hpp"
#include "served_file.hpp"
#include "text/text.hpp"

namespace fs = std::filesystem;

namespace {

// "\folder\name" as an entry composes it, in the bytes the manifest holds.
std::string RemovalPathOf(const ReleaseFile& file) {
  const std::string path = file.folder.empty() ? file.name : file.folder + "/" + file.name;
  return "\\" + text::ReplaceAll(ServedPath(path), "/", "\\");
}

// Both keys a path is compared by: the updater's (ASCII case, trailing dots and spaces) and
// Windows' file systems' (every character's case), each component ended by a separator.
std::pair<std::string, std::u32string> Keys(const std::string& servedPath) {
  // The identity's components each start with a zero byte, which no name holds: a trail byte may be a backslash.
  const std::string decoded = text::ReplaceAll(NameFromServed(servedPath), "/", "\\");
  return {PathIdentity(servedPath) + '\0', CaseKey(decoded) + U"\\"};
}

bool HoldsBelow(const std::set<std::string>& keys, const std::string& folder) {
  const auto it = keys.upper_bound(folder);
  return it != keys.end() && it->starts_with(folder) && *it != folder;
}

}  // namespace

std::vector<RemovalLine> ReadLedger(const fs::path& webRoot) {
  const fs::path path = webRoot / kLedgerFile;
  std::error_code error;
  if (!fs::exists(fs::symlink_status(path, error))) return {};
  const std::optional<std::string> bytes = ReadWholeFile(path);
  if (!bytes) throw PublishError(path.string() + ": cannot be read");
  std::vector<RemovalLine> ledger;
  std::istringstream lines(*bytes);
  for (std::string line; std::getline(lines, line);) {
    auto parsed = ParseRemovalValue(line);
    if (!parsed) throw PublishError(path.string() + ": not a line \"<path> <sha256> <size>\": " + NameFromServed(line));
    ledger.push_back(std::move(*parsed));
  }
  return ledger;
}

void WriteLedger(const fs::path& webRoot, const std::vector<RemovalLine>& ledger) {
  std::string bytes;
  for (const RemovalLine& line : ledger) bytes += RemovalValue(line) + "\n";
  ReplaceDurably(webRoot / kLedgerFile, bytes);
}

std::vector<RemovalLine> WithRelease(std::vector<RemovalLine> ledger, const Release& release) {
  std::set<std::pair<std::string, std::string>> held;
  for (const RemovalLine& line : ledger) held.emplace(line.path, HashValue(line.digest));
  for (const ReleaseFile& file : release.files) {
    if (!file.digest) continue;
    RemovalLine line{RemovalPathOf(file), *file.digest};
    if (held.emplace(line.path, HashValue(line.digest)).second) ledger.push_back(std::move(line));
  }
  return ledger;
}

std::vector<RemovalLine> DroppedFiles(const std::vector<RemovalLine>& ledger, const Release& release) {
  std::set<std::string> identities;
  std::set<std::u32string> caseKeys;
  for (const ReleaseFile& file : release.files) {
    auto [identity, caseKey] = Keys(RemovalPathOf(file));
    identities.insert(std::move(identity));
    caseKeys.insert(std::move(caseKey));
  }
  std::set<std::string> published;
  for (const RemovalLine& line : ledger) published.insert(Keys(line.path).first);
  for (const ReleaseFile& file : release.files)
    if (const std::string key = Keys(RemovalPathOf(file)).first; HoldsBelow(published, key))
      throw PublishError(NameFromServed(RemovalPathOf(file)) +
                         ": a folder of published files, which this release would make a file; installations cannot "
                         "have both");
  std::vector<RemovalLine> dropped;
  for (const RemovalLine& line : ledger) {
    const auto [identity, caseKey] = Keys(line.path);
    if (HoldsBelow(identities, identity))
      throw PublishError(NameFromServed(line.path) +
                         ": a published file, which this release would make a folder; installations cannot have both");
    // The updater's own file or its aside file stays whatever a release drops.
    if (!identities.contains(identity) && !caseKeys.contains(caseKey) && UnsafeRemovalReason(line.path).empty())
      dropped.push_back(line);
  }
  return dropped;
}
