#include "store_prune.hpp"

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "durable_files.hpp"
#include "object_store.hpp"
#include "release.hpp"
#include "served_file.hpp"
#include "text/hex.hpp"
#include "manifest/update_manifest.hpp"
#include "web_root_lock.hpp"

namespace fs = std::filesystem;

namespace {

constexpr const char* kManifestPath = "update_go/update.htm";

std::uintmax_t SizeOf(const fs::path& path) {
  std::error_code error;
  if (!fs::is_directory(fs::symlink_status(path, error))) {
    const std::uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
  }
  std::uintmax_t size = 0;
  for (fs::recursive_directory_iterator it(path, error), end; !error && it != end; it.increment(error))
    if (it->is_regular_file(error)) size += SizeOf(it->path());
  return size;
}

// The version folder a manifest's update_url names below the web root (with its index and maps
// beside it), when stage wrote one there.
std::vector<fs::path> FolderCopies(const fs::path& webRoot, std::string_view manifest) {
  ManifestReader reader(manifest);
  UpdateManifest header;
  if (!reader.ReadHeader(header)) return {};
  const std::string& url = header.update_url;
  const std::size_t slash = url.rfind('/');
  if (slash == std::string::npos || slash < 2 || url.compare(slash - 2, 3, "/v/") != 0) return {};
  const std::string version = url.substr(slash + 1);
  if (version.empty() || version == "." || version == "..") return {};
  std::vector<fs::path> copies;
  std::error_code error;
  for (const std::string& name : {version, version + ".index", version + ".maps"})
    if (const fs::path path = webRoot / "v" / name; fs::exists(fs::symlink_status(path, error))) copies.push_back(path);
  return copies;
}

std::string Read(const fs::path& path) {
  const std::optional<std::string> bytes = ReadWholeFile(path);
  if (!bytes) throw PublishError(path.string() + ": cannot be read");
  return *bytes;
}

}  // namespace

void PruneStore(const PruneRequest& request, std::ostream& out) {
  const fs::path& webRoot = request.webRoot;
  if (!fs::is_directory(webRoot)) throw PublishError(webRoot.string() + ": not a folder");
  const WebRootLock lock(webRoot);
  const fs::path store = webRoot / kStoreFolder;
  const std::vector<fs::path> records = ReleaseRecords(webRoot);
  const fs::path manifestPath = webRoot / kManifestPath;
  const std::optional<std::string> served = ReadWholeFile(manifestPath);

  // The served release is the newest record of the served version; when none is, the newest
  // records are kept.
  std::size_t end = records.size();
  bool servedRecorded = false;
  if (served)
    if (const auto version = ManifestVersion(*served))
      for (std::size_t i = records.size(); i-- > 0 && !servedRecorded;)
        if (ManifestVersion(Read(records[i])) == version) {
          end = i + 1;
          servedRecorded = true;
        }
  const std::size_t keep = static_cast<std::size_t>(request.keep) - (served && !servedRecorded ? 1 : 0);
  const std::size_t begin = end > keep ? end - keep : 0;

  std::set<Sha256Digest> live;
  std::set<fs::path> keptCopies;
  const auto keepRelease = [&](const std::string& manifest, const std::string& shown) {
    for (const FileDigest& digest : ObjectsNamedBy(manifest, store, shown)) live.insert(digest.sha256);
    for (const fs::path& copy : FolderCopies(webRoot, manifest)) keptCopies.insert(copy);
  };
  if (served) keepRelease(*served, manifestPath.string());
  std::vector<fs::path> goneRecords;
  for (std::size_t i = 0; i < records.size(); ++i)
    if (i >= begin && i < end)
      keepRelease(Read(records[i]), records[i].string());
    else
      goneRecords.push_back(records[i]);

  std::vector<fs::path> goneCopies;
  for (const fs::path& record : goneRecords)
    for (const fs::path& copy : FolderCopies(webRoot, Read(record)))
      if (!keptCopies.contains(copy) && std::find(goneCopies.begin(), goneCopies.end(), copy) == goneCopies.end())
        goneCopies.push_back(copy);
  std::vector<fs::path> goneObjects;
  std::error_code error;
  for (fs::recursive_directory_iterator it(store, error), last; !error && it != last; it.increment(error)) {
    Sha256Digest digest{};
    if (it.depth() != 1 || !it->is_regular_file() ||
        !HexDecode(it->path().filename().string(), digest.data(), digest.size(), false))
      continue;
    if (!live.contains(digest)) goneObjects.push_back(it->path());
  }
  std::sort(goneObjects.begin(), goneObjects.end());

  const char* verb = request.dryRun ? "would remove " : "removes ";
  std::uintmax_t freed = 0;
  for (const fs::path& record : goneRecords) {
    freed += SizeOf(record);
    out << verb << "the record " << record.string() << " (" << ManifestVersion(Read(record)).value_or("no version")
        << ")\n";
  }
  std::uintmax_t objectBytes = 0;
  for (const fs::path& object : goneObjects) objectBytes += SizeOf(object);
  freed += objectBytes;
  out << verb << goneObjects.size() << " objects (" << objectBytes << " bytes) that no kept release names\n";
  for (const fs::path& copy : goneCopies) {
    freed += SizeOf(copy);
    out << verb << "the folder copy " << copy.string() << "\n";
  }
  out << (request.dryRun ? "would keep " : "kept ") << end - begin << " of " << records.size() << " records; "
      << (request.dryRun ? "would free " : "freed ") << freed << " bytes\n";
  if (request.dryRun) return;

  // Records before objects: a prune cut short leaves objects no record names, never a record
  // whose objects are gone.
  for (const fs::path& record : goneRecords) fs::remove(record);
  if (!goneRecords.empty()) SyncFolder(webRoot / kRecordsFolder);
  std::set<fs::path> folders;
  for (const fs::path& object : goneObjects) {
    fs::remove(object);
    folders.insert(object.parent_path());
  }
  for (const fs::path& folder : folders) SyncFolder(folder);
  for (const fs::path& copy : goneCopies) fs::remove_all(copy);
  if (!goneCopies.empty()) SyncFolder(webRoot / "v");
}
