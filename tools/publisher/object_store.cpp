#include "object_store.hpp"

#include <algorithm>
#include <cstdio>
#include <set>
#include <system_error>

#include "crypto.hpp"
#include "disk_digest.hpp"
#include "durable_files.hpp"
#include "manifest/update_manifest.hpp"
#include "release.hpp"
#include "served_file.hpp"
#include "update_run.hpp"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kRecordDigits = 6;

bool IsHexName(std::string_view name, std::size_t length) {
  return name.size() == length && name.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// The record's staging number, or nothing for a file that is no record.
std::optional<unsigned long> RecordNumber(const fs::path& path) {
  const std::string name = path.filename().string();
  if (name.size() != kRecordDigits + 4 || !name.ends_with(".htm") ||
      name.find_first_not_of("0123456789") != kRecordDigits)
    return std::nullopt;
  return std::stoul(name.substr(0, kRecordDigits));
}

}  // namespace

fs::path ObjectPath(const fs::path& store, const Sha256Digest& sha256) {
  const std::string hex = HexOf(sha256);
  return store / hex.substr(0, 2) / hex;
}

std::optional<fs::path> ObjectPathOf(const fs::path& store, std::string_view address) {
  const std::size_t slash = address.rfind('/');
  if (slash == std::string_view::npos || slash < 3 || address[slash - 3] != '/') return std::nullopt;
  const std::string_view name = address.substr(slash + 1), folder = address.substr(slash - 2, 2);
  if (!IsHexName(name, 64) || !name.starts_with(folder)) return std::nullopt;
  return store / std::string(folder) / std::string(name);
}

std::string ObjectProblem(const fs::path& store, const FileDigest& digest) {
  const fs::path path = ObjectPath(store, digest.sha256);
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return path.string() + ": missing from the store";
  const FileDigest found = DigestOfFile(path, path.string());
  if (found.size != digest.size)
    return path.string() + ": " + std::to_string(found.size) + " bytes, where " + std::to_string(digest.size) +
           " are named";
  if (found.sha256 != digest.sha256) return path.string() + ": its SHA-256 is not its name";
  return {};
}

std::vector<StoreObject> MissingObjects(const fs::path& store, const std::vector<StoreObject>& objects) {
  std::vector<StoreObject> missing;
  std::set<Sha256Digest> seen;
  for (const StoreObject& object : objects) {
    if (!seen.insert(object.digest.sha256).second) continue;
    const fs::path path = ObjectPath(store, object.digest.sha256);
    std::error_code error;
    if (!fs::exists(fs::symlink_status(path, error))) {
      missing.push_back(object);
      continue;
    }
    if (const std::string problem = ObjectProblem(store, object.digest); !problem.empty())
      throw PublishError(problem + "; an object never changes: remove it, and stage again");
  }
  return missing;
}

std::uintmax_t WriteObjects(const fs::path& store, const std::vector<StoreObject>& missing) {
  std::set<fs::path> folders;
  std::uintmax_t bytes = 0;
  if (!missing.empty() && !fs::exists(store)) {
    MakeFolder(store);
    SyncFolder(store.parent_path());
  }
  for (const StoreObject& object : missing) {
    const fs::path path = ObjectPath(store, object.digest.sha256);
    if (!fs::exists(path.parent_path())) {
      MakeFolder(path.parent_path());
      folders.insert(store);
    }
    if (object.file)
      CopyIntoPlace(*object.file, path, object.digest, object.file->string());
    else
      WriteIntoPlace(path, object.bytes);
    folders.insert(path.parent_path());
    bytes += static_cast<std::uintmax_t>(object.digest.size);
  }
  for (const fs::path& folder : folders) SyncFolder(folder);
  return bytes;
}

void RemoveUnfinishedObjects(const fs::path& webRoot) {
  std::vector<fs::path> folders{webRoot / kRecordsFolder};
  std::error_code error;
  for (fs::directory_iterator it(webRoot / kStoreFolder, error), end; !error && it != end; it.increment(error))
    if (IsHexName(it->path().filename().string(), 2)) folders.push_back(it->path());
  for (const fs::path& folder : folders)
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
      if (it->path().filename().string().starts_with(".")) fs::remove(it->path());
}

std::vector<fs::path> ReleaseRecords(const fs::path& webRoot) {
  std::vector<std::pair<unsigned long, fs::path>> records;
  std::error_code error;
  for (fs::directory_iterator it(webRoot / kRecordsFolder, error), end; !error && it != end; it.increment(error))
    if (const auto number = RecordNumber(it->path()); number && it->is_regular_file())
      records.emplace_back(*number, it->path());
  std::sort(records.begin(), records.end());
  std::vector<fs::path> paths;
  paths.reserve(records.size());
  for (auto& record : records) paths.push_back(std::move(record.second));
  return paths;
}

fs::path RecordRelease(const fs::path& webRoot, std::string_view manifest) {
  const fs::path folder = webRoot / kRecordsFolder;
  if (!fs::exists(folder)) {
    MakeFolder(folder);
    SyncFolder(webRoot);
  }
  const std::vector<fs::path> records = ReleaseRecords(webRoot);
  unsigned long number = records.empty() ? 1 : *RecordNumber(records.back()) + 1;
  if (!records.empty() && ManifestVersion(ReadWholeFile(records.back()).value_or("")) == ManifestVersion(manifest))
    number = *RecordNumber(records.back());
  char name[32];
  (void)std::snprintf(name, sizeof name, "%06lu.htm", number);
  ReplaceDurably(folder / name, manifest);
  return folder / name;
}

std::optional<std::string> ManifestVersion(std::string_view manifest) {
  ManifestReader reader(manifest);
  UpdateManifest header;
  return reader.ReadHeader(header) ? std::optional(header.update_version) : std::nullopt;
}

namespace {

// Every entry with a hash line that the reader, past its count, has.
void EntryLines(ManifestReader& reader, int count, const EntryVisitor& visit) {
  for (int i = 0; i < count; ++i) {
    ManifestFileEntry entry;
    FileDigest digest;
    MapLine map;
    PackLine pack;
    if (!reader.ReadEntry(i, entry)) return;
    if (reader.ReadEntryHash(i, digest) != OptionalLine::kPresent) continue;
    const bool hasMap = reader.ReadEntryMap(i, map) == OptionalLine::kPresent;
    const bool hasPack = reader.ReadEntryPack(i, pack) == OptionalLine::kPresent;
    visit(digest, hasMap ? &map : nullptr, hasPack ? &pack : nullptr);
  }
}

}  // namespace

void ForEachStoredEntry(std::string_view manifest, const fs::path& objects, const std::string& shown,
                        const IndexVisitor& index, const EntryVisitor& visit) {
  ManifestReader reader(manifest);
  UpdateManifest header;
  StoreLine store;
  // A manifest without a store line names nothing in the store.
  if (!reader.ReadHeader(header) || reader.ReadStore(store) != OptionalLine::kPresent || !reader.ReadCount(header))
    return;
  HelperFile line;
  if (reader.ReadIndexLine(line) != OptionalLine::kPresent) {
    EntryLines(reader, header.FileCount(), visit);
    return;
  }
  index(line.digest);
  const fs::path path = ObjectPath(objects, line.digest.sha256);
  const std::optional<std::string> bytes = ReadWholeFile(path);
  if (!bytes || !IsHelperFileBody(line, *bytes))
    throw PublishError(shown + ": its index " + path.string() +
                       " is not in the store as named, so the objects it needs are unknown");
  ManifestReader indexReader(*bytes);
  UpdateManifest count;
  if (indexReader.ReadCount(count)) EntryLines(indexReader, count.FileCount(), visit);
}

std::vector<FileDigest> ObjectsNamedBy(std::string_view manifest, const fs::path& objects, const std::string& shown) {
  std::vector<FileDigest> named;
  ForEachStoredEntry(
      manifest, objects, shown, [&](const FileDigest& index) { named.push_back(index); },
      [&](const FileDigest& file, const MapLine* map, const PackLine* pack) {
        // A packed file is no object of its own: its pack is.
        named.push_back(pack ? pack->pack : file);
        if (map) named.push_back(map->digest);
      });
  return named;
}
