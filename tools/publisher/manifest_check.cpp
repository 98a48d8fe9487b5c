#include "manifest_check.hpp"

#include <algorithm>
#include <fstream>
#include <set>

#include "crypto.hpp"
#include "download/download_plan.hpp"
#include "paths/entry_safety.hpp"
#include "paths/install_paths.hpp"
#include "paths/path_identity.hpp"
#include "manifest/manifest_keys.hpp"
#include "object_store.hpp"
#include "served_file.hpp"
#include "text/text.hpp"
#include "manifest/version_numbers.hpp"

namespace fs = std::filesystem;

namespace {

class Problems {
 public:
  Problems(std::string_view bytes, std::vector<std::string>& out, std::string prefix = {})
      : bytes_(bytes), out_(out), prefix_(std::move(prefix)) {}

  int LineOf(text::Pos pos) const {
    return 1 + static_cast<int>(std::count(bytes_.begin(), bytes_.begin() + std::max<text::Pos>(pos, 0), '\n'));
  }
  void At(text::Pos pos, const std::string& what) {
    out_.push_back(prefix_ + text::Format("line %d: %s", LineOf(pos), what.c_str()));
  }
  void Add(const std::string& what) { out_.push_back(prefix_ + what); }

  // Says why a key the reader needed was not found where it looked.
  void Missing(const std::string& key) {
    const text::Pos anywhere = text::Find(bytes_, key, 0);
    if (anywhere == text::kNotFound)
      Add(key + " is missing");
    else if (text::Find(bytes_, "\r\n", anywhere) == text::kNotFound)
      At(anywhere, key + " is not followed by CR LF");
    else
      At(anywhere, key + " stands before the key it must follow, where the updater does not look for it");
  }

  void Tabs(std::string_view key, const std::string& value) {
    if (value.find('\t') != std::string::npos)
      At(text::Find(bytes_, key, 0), std::string(key) + " keeps a tab in its value");
  }

 private:
  std::string_view bytes_;
  std::vector<std::string>& out_;
  std::string prefix_;
};

// The entry names update_name0= on that the text holds, each searched on from the previous one
// first, so that a long index is counted in one pass.
int CountNameKeys(std::string_view text) {
  int names = 0;
  for (text::Pos from = 0;; ++names) {
    const std::string key = manifest_key::kName(names);
    text::Pos at = text::FindAtBoundary(text, key, from);
    if (at == text::kNotFound) at = text::Find(text, key, 0);
    if (at == text::kNotFound) return names;
    from = at;
  }
}

// The removal list after the last entry, judged as the updater judges it in its pass.
void CheckRemovals(ManifestReader& reader, std::string_view bytes, Problems& problems, ManifestCheck& check) {
  const text::Pos listAt = text::Find(bytes, manifest_key::kRemoved, 0);
  switch (reader.ReadRemovals(check.removals)) {
    case OptionalLine::kAbsent: return;
    case OptionalLine::kMalformed:
      problems.At(listAt,
                  "the removal list is malformed, so the updater stops before the first entry: update_removed=N (0 to "
                  "100000, no leading zero), then update_gone0= to update_gone<N-1>=, each \"<path> <sha256> <size>\" "
                  "directly after the one before");
      return;
    case OptionalLine::kPresent: break;
  }
  std::set<std::string> listed{PathIdentity("\\" + std::string(kTargetFileName))};
  for (const PlannedDownload& download : check.downloads) {
    listed.insert(PathIdentity(download.entry.to + "\\" + download.entry.name));
    if (!download.digest)
      problems.At(listAt, "entry " + download.entry.name +
                              " has no hash line, which every updater refuses in a manifest with removal lines");
  }
  for (std::size_t i = 0; i < check.removals.size(); ++i) {
    std::string reason = UnsafeRemovalReason(check.removals[i].path);
    if (reason.empty() && listed.contains(PathIdentity(check.removals[i].path)))
      reason = "is a file the release lists, as Windows compares paths";
    if (!reason.empty())
      problems.At(text::Find(bytes, manifest_key::kGone(static_cast<long long>(i)), listAt),
                  text::Format("removal line %zu is refused by the updater, which then touches nothing: its path %s", i,
                               reason.c_str()));
  }
}

// Reads `count` entries as the updater does, noting each planned download and every problem.
// `keyed`: read by an updater with a built-in key, which replaces itself with its own entry;
// one without refuses that entry.
void CheckEntries(ManifestReader& reader, std::string_view bytes, int count, const char* hashRequiredBy, bool keyed,
                  Problems& problems, ManifestCheck& check, const ServedRelease& served) {
  const std::string installDir = "<install>";
  for (int i = 0; i < count; ++i) {
    ManifestFileEntry entry;
    if (!reader.ReadEntry(i, entry)) {
      problems.Missing(reader.missingKey());
      break;
    }
    const text::Pos nameAt = reader.lastKeyAt();
    for (const auto& [key, value] :
         {std::pair{manifest_key::kName(i), entry.name}, std::pair{manifest_key::kFrom(i), entry.from},
          std::pair{manifest_key::kTo(i), entry.to}})
      problems.Tabs(key, value);
    if (const std::string reason = UnsafeEntryReason(entry); !reason.empty())
      problems.At(nameAt, text::Format("entry %d is refused by the updater: %s", i, reason.c_str()));
    FileDigest digest;
    const auto hash = reader.ReadEntryHash(i, digest);
    const std::string hashKey = manifest_key::kHash(i);
    if (hash == OptionalLine::kMalformed)
      problems.At(text::Find(bytes, hashKey, nameAt),
                  hashKey +
                      " is malformed, so the updater stops before this entry: it takes 64 digits of [0-9a-f], one "
                      "space and the size (0 to 2147483647, no leading zero)");
    else if (hash == OptionalLine::kAbsent && hashRequiredBy)
      problems.At(nameAt, text::Format("entry %d has no hash line, which %s refuses", i, hashRequiredBy));
    MapLine map;
    const OptionalLine mapLine = reader.ReadEntryMap(i, map);
    if (mapLine == OptionalLine::kMalformed)
      problems.At(text::Find(bytes, manifest_key::kMap(i), nameAt),
                  manifest_key::kMap(i) +
                      " is malformed, so the updater stops before this entry: it takes the address after update_url, "
                      "the map's SHA-256 and its size (at most the file's / 200 + 4096)");
    PackLine pack;
    OptionalLine packLine = reader.ReadEntryPack(i, pack);
    const std::string localPath = EntryLocalPath(installDir, entry);
    const bool ownEntry = IsUpdaterEntry(localPath, installDir + "\\" + kUpdaterFileName);
    if (packLine == OptionalLine::kPresent && (!served.store || ownEntry)) packLine = OptionalLine::kMalformed;
    if (packLine == OptionalLine::kMalformed)
      problems.At(text::Find(bytes, manifest_key::kPack(i), nameAt),
                  manifest_key::kPack(i) +
                      " is malformed, so the updater stops before the first entry: it takes the pack's SHA-256, its "
                      "size and the file's offset in it, which must hold the file's bytes, stands in a manifest with "
                      "a store line on a file of 1 byte or more without a map, and never on the updater's own file");
    if (ownEntry) {
      if (!keyed)
        problems.At(nameAt,
                    text::Format("entry %d is the updater's own file, which only an updater with a built-in key "
                                 "replaces; one without refuses it",
                                 i));
      else if (check.updaterEntry < 0)
        check.updaterEntry = i;
    }
    const FileDigest* known = hash == OptionalLine::kPresent ? &digest : nullptr;
    const bool packed = packLine == OptionalLine::kPresent;
    const std::string address =
        packed
            ? text::Format("%s bytes=%llu-%llu", ObjectAddress(*served.store, pack.pack.sha256).c_str(),
                           static_cast<unsigned long long>(pack.offset),
                           static_cast<unsigned long long>(pack.offset + static_cast<std::uint64_t>(digest.size) - 1))
            : EntryAddress(served, entry, known);
    check.downloads.push_back({entry, address, localPath,
                               hash == OptionalLine::kPresent ? std::optional(digest) : std::nullopt,
                               mapLine == OptionalLine::kPresent ? std::optional(map) : std::nullopt,
                               packed ? std::optional(pack) : std::nullopt});
  }
  check.entriesRead = static_cast<int>(check.downloads.size()) == count;
  if (check.entriesRead && count > 0) CheckRemovals(reader, bytes, problems, check);
  const int names = CountNameKeys(reader.text());
  if (names != count)
    problems.Add(text::Format("update_size says %d entries, but the %s has %d (update_name0= to update_name%d=)", count,
                              check.index ? "index" : "manifest", names, names - 1));
}

// Checks the index the manifest names, as served, as the updater would.
void CheckIndex(ManifestCheck& check, Problems& problems, const std::string& index, bool keyed,
                const ServedRelease& served) {
  const HelperFile& line = *check.index;
  if (index.size() != static_cast<std::size_t>(line.digest.size)) {
    problems.Add(
        text::Format("the release index %s is %zu bytes, its update_index= line says %d, so the updater "
                     "refuses it",
                     check.indexAddress.c_str(), index.size(), line.digest.size));
    return;
  }
  if (!IsHelperFileBody(line, index)) {
    problems.Add("the release index " + check.indexAddress +
                 " does not have the SHA-256 its update_index= line states, so the updater refuses it");
    return;
  }
  check.indexRead = true;
  Problems indexProblems(index, check.problems, "index ");
  ManifestReader reader(index);
  if (!reader.ReadCount(check.indexCount)) {
    indexProblems.Missing(reader.missingKey());
    return;
  }
  if (check.indexCount.FileCount() <= 0) {
    indexProblems.Add("update_size= of an index must be 1 or more, or the updater refuses it");
    return;
  }
  CheckEntries(reader, index, check.indexCount.FileCount(), "every updater, for an entry of an index,", keyed,
               indexProblems, check, served);
}

// The problem of a packed file's bytes in its pack, which is in the store as named: empty when they
// are the file its hash line states.
std::string PackedFileProblem(const fs::path& store, const PackLine& pack, const FileDigest& file) {
  const fs::path path = ObjectPath(store, pack.pack.sha256);
  std::ifstream in(path, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(file.size), '\0');
  in.seekg(static_cast<std::streamoff>(pack.offset));
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in && Sha256Of(bytes) == file.sha256) return {};
  return text::Format("%s: its %d bytes from %llu are not the file the hash line states", path.string().c_str(),
                      file.size, static_cast<unsigned long long>(pack.offset));
}

// Every object the entries name, in the store below the web root, and every packed file in its pack.
void CheckObjects(ManifestCheck& check, const fs::path& store) {
  for (std::size_t i = 0; i < check.downloads.size(); ++i) {
    const PlannedDownload& download = check.downloads[i];
    const FileDigest* object = download.pack ? &download.pack->pack : download.digest ? &*download.digest : nullptr;
    for (const FileDigest* digest : {object, download.map ? &download.map->digest : nullptr}) {
      if (!digest) continue;
      std::string problem = ObjectProblem(store, *digest);
      if (problem.empty() && digest == object && download.pack && download.digest)
        problem = PackedFileProblem(store, *download.pack, *download.digest);
      if (!problem.empty()) check.problems.push_back(text::Format("entry %zu: ", i) + problem);
    }
  }
}

}  // namespace

ManifestCheck CheckManifest(std::string_view bytes, const PublicKeys& publicKeys,
                            const std::optional<std::filesystem::path>& webRoot) {
  const bool keyed = !publicKeys.empty();
  ManifestCheck check;
  Problems problems(bytes, check.problems);
  if (bytes.size() > kManifestLimit)
    problems.At(
        static_cast<text::Pos>(kManifestLimit),
        text::Format("the manifest is %zu bytes; the updater reads only the first %zu", bytes.size(), kManifestLimit));
  for (std::size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
      problems.At(static_cast<text::Pos>(i), "ends with LF only, not CR LF");
  if (!bytes.empty() && bytes.back() != '\n')
    problems.At(static_cast<text::Pos>(bytes.size()), "the last line does not end with CR LF");

  if (keyed) {
    const auto signature = FindManifestSignature(bytes.substr(0, kManifestLimit));
    const text::Pos keyAt = text::Find(bytes, manifest_key::kSignature, 0);
    if (!signature && keyAt == text::kNotFound)
      problems.Add("not signed: there is no update_signature= line");
    else if (!signature)
      problems.At(keyAt,
                  "not signed: update_signature= must be the last line, 88 base64 characters and CR LF, with nothing "
                  "after it");
    else if (std::none_of(publicKeys.begin(), publicKeys.end(), [&](const PublicKey& key) {
               return VerifyP256Signature(signature->signedText, signature->signature, key);
             }))
      problems.At(static_cast<text::Pos>(signature->signedText.size()),
                  publicKeys.size() == 1 ? "the signature does not match the public key"
                                         : "the signature matches none of the public keys");
  }

  const std::string_view read = bytes.substr(0, kManifestLimit);
  ManifestReader reader(read);
  check.headerRead = reader.ReadHeader(check.header);
  if (!check.headerRead) {
    problems.Missing(reader.missingKey());
    return check;
  }
  problems.Tabs(manifest_key::kVersion, check.header.update_version);
  problems.Tabs(manifest_key::kFileSize, check.header.update_filesize);
  problems.Tabs(manifest_key::kUrl, check.header.update_url);
  check.expiry = reader.ReadExpiry(check.expires);
  if (keyed && check.expiry == OptionalLine::kMalformed)
    problems.At(text::Find(bytes, manifest_key::kExpires, 0),
                "update_expires= is malformed, which an updater with a built-in key refuses: it takes a UTC time "
                "YYYY-MM-DDTHH:MM:SSZ");
  if (keyed && !ReadVersionNumbers(check.header.update_version))
    problems.At(text::Find(bytes, manifest_key::kVersion, 0),
                "update_version= does not read as numbers (1 to 4 numbers from 0 to 65535, separated by , or .), "
                "which an updater with a built-in key refuses");
  StoreLine store;
  switch (reader.ReadStore(store)) {
    case OptionalLine::kAbsent: break;
    case OptionalLine::kMalformed:
      problems.At(text::Find(bytes, manifest_key::kStore, 0),
                  "update_store= is malformed or followed by update_expires=, so the updater stops before the count: "
                  "it takes an http:// URL of printable ASCII without spaces, ?, #, user information or a trailing "
                  "slash, then feature words, each after one space");
      return check;
    case OptionalLine::kPresent:
      if (const auto feature = UnknownStoreFeature(store)) {
        problems.At(text::Find(bytes, manifest_key::kStore, 0), "update_store= names the feature " + *feature +
                                                                    ", which this updater does not know: it refuses "
                                                                    "the manifest");
        return check;
      }
      check.store = store;
  }
  const ServedRelease served{check.header.update_url,
                             check.store ? std::optional<std::string>(check.store->url) : std::nullopt};
  const char* hashRequiredBy = check.store ? "an updater following a store line"
                               : keyed     ? "an updater with a built-in key"
                                           : nullptr;
  check.countRead = reader.ReadCount(check.header);
  if (!check.countRead) {
    problems.Missing(reader.missingKey());
    return check;
  }
  problems.Tabs(manifest_key::kSize, check.header.update_size);

  HelperFile index;
  switch (reader.ReadIndexLine(index)) {
    case OptionalLine::kAbsent:
      CheckEntries(reader, read, check.header.FileCount(), hashRequiredBy, keyed, problems, check, served);
      if (check.store && webRoot) CheckObjects(check, *webRoot / kStoreFolder);
      return check;
    case OptionalLine::kMalformed:
      problems.At(text::Find(read, manifest_key::kIndex, reader.lastKeyAt()),
                  text::Format("update_index= is malformed, so the updater stops before it asks for the index: it "
                               "takes the address after update_url, 64 digits of [0-9a-f] and the size (0 to %d, no "
                               "leading zero), each after one space",
                               kIndexSizeLimit));
      return check;
    case OptionalLine::kPresent: break;
  }
  // The manifest's own entries are not read: they are what an updater that predates the index sees.
  check.index = index;
  check.indexAddress = HelperFileAddress(served, index);
  if (!webRoot) {
    check.indexUnchecked = true;
    problems.Add("the release index " + check.indexAddress +
                 " is not checked: give --web-root, the folder served at update_url's host");
    return check;
  }
  const auto object = check.store ? ObjectPathOf(*webRoot / kStoreFolder, check.indexAddress) : std::nullopt;
  const auto indexBytes = object ? ReadWholeFile(*object) : ReadServedFile(*webRoot, check.indexAddress);
  if (!indexBytes) {
    problems.Add("the release index " + check.indexAddress + " is not a file below " + webRoot->string() +
                 ", so the updater cannot fetch it");
    return check;
  }
  CheckIndex(check, problems, *indexBytes, keyed, served);
  if (check.store && check.indexRead) CheckObjects(check, *webRoot / kStoreFolder);
  return check;
}
