#include "release_packs.hpp"

#include <algorithm>
#include <map>
#include <set>
#include <system_error>

#include "crypto.hpp"
#include "manifest_writer.hpp"
#include "release_updater.hpp"
#include "served_file.hpp"

namespace fs = std::filesystem;

namespace {

using DigestKey = std::pair<Sha256Digest, std::int32_t>;

DigestKey KeyOf(const FileDigest& digest) { return {digest.sha256, digest.size}; }

bool Packable(const ReleaseFile& file) {
  return file.digest && file.digest->size > 0 && file.digest->size < kPackThreshold && !IsReleaseUpdater(file);
}

// Where the recorded releases hold each file in a pack that is in the store with its size.
std::map<DigestKey, PackLine> RecordedPacks(const fs::path& webRoot) {
  const fs::path store = webRoot / kStoreFolder;
  std::map<DigestKey, PackLine> found;
  std::map<Sha256Digest, bool> present;
  for (const fs::path& record : ReleaseRecords(webRoot)) {
    const std::string manifest = ReadWholeFile(record).value_or(std::string());
    ForEachStoredEntry(
        manifest, store, record.string(), [](const FileDigest&) {},
        [&](const FileDigest& file, const MapLine*, const PackLine* pack) {
          if (!pack) return;
          auto known = present.find(pack->pack.sha256);
          if (known == present.end()) {
            std::error_code error;
            const auto size = fs::file_size(ObjectPath(store, pack->pack.sha256), error);
            known = present.emplace(pack->pack.sha256, !error && size == static_cast<std::uintmax_t>(pack->pack.size))
                        .first;
          }
          if (known->second) found.insert_or_assign(KeyOf(file), *pack);
        });
  }
  return found;
}

}  // namespace

ReleasePacks PackRelease(Release& release, const fs::path& root, const fs::path& webRoot) {
  ReleasePacks packs;
  std::vector<ReleaseFile*> small;
  for (ReleaseFile& file : release.files)
    if (Packable(file)) small.push_back(&file);
  std::sort(small.begin(), small.end(), [](const ReleaseFile* a, const ReleaseFile* b) { return EntryOrder(*a, *b); });

  // The recorded packs worth keeping: at least half of their bytes still live in this release.
  const std::map<DigestKey, PackLine> recorded = RecordedPacks(webRoot);
  std::map<Sha256Digest, std::int64_t> live;
  std::set<std::pair<Sha256Digest, std::uint64_t>> counted;
  for (const ReleaseFile* file : small)
    if (const auto at = recorded.find(KeyOf(*file->digest)); at != recorded.end())
      if (counted.insert({at->second.pack.sha256, at->second.offset}).second)
        live[at->second.pack.sha256] += file->digest->size;
  std::set<Sha256Digest> kept;
  std::vector<ReleaseFile*> rest;
  for (ReleaseFile* file : small) {
    const auto at = recorded.find(KeyOf(*file->digest));
    if (at != recorded.end() && 2 * live[at->second.pack.sha256] >= at->second.pack.size) {
      file->pack = at->second;
      if (kept.insert(at->second.pack.sha256).second) packs.kept.push_back(at->second.pack);
    } else {
      rest.push_back(file);
    }
  }

  // New packs of the rest, in manifest order; equal files share their bytes within a pack.
  std::string bytes;
  std::vector<ReleaseFile*> members;
  std::map<DigestKey, std::uint64_t> offsets;
  const auto close = [&] {
    if (members.empty()) return;
    const FileDigest digest{*Sha256Of(bytes), static_cast<std::int32_t>(bytes.size())};
    for (ReleaseFile* member : members) member->pack->pack = digest;
    packs.made.push_back({digest, std::nullopt, std::move(bytes)});
    bytes.clear();
    members.clear();
    offsets.clear();
  };
  for (ReleaseFile* file : rest) {
    const auto size = static_cast<std::int64_t>(file->digest->size);
    const auto same = offsets.find(KeyOf(*file->digest));
    if (same == offsets.end() && static_cast<std::int64_t>(bytes.size()) + size > kPackSize) close();
    std::uint64_t offset = 0;
    if (const auto again = offsets.find(KeyOf(*file->digest)); again != offsets.end()) {
      offset = again->second;
    } else {
      const fs::path path = root / (file->folder.empty() ? file->name : file->folder + "/" + file->name);
      const std::optional<std::string> content = ReadWholeFile(path);
      if (!content || content->size() != static_cast<std::size_t>(size) || Sha256Of(*content) != file->digest->sha256)
        throw PublishError(path.string() + ": changed while the release was staged");
      offset = bytes.size();
      bytes += *content;
      offsets.emplace(KeyOf(*file->digest), offset);
    }
    file->pack = PackLine{{}, offset};
    members.push_back(file);
  }
  close();
  packs.packedFiles = small.size();
  return packs;
}
