// The whole update run over an arbitrary manifest, against FuzzPlatform. The input is the
// manifest up to its first zero byte; the bytes after it set up the installation:
//   [0] bit 0: the target has the manifest's version, bit 1: its size; bits 2-3: which folder;
//       bit 4: the updater has a public key built in; bit 5: a signature line, if any, holds
//   [1] bit 7: one download fails, the one numbered by bits 0-5; bit 6: with a FileError
//   [2...] the body served for a release index, at whatever address it is asked for. The text
//       "@INDEX@" in the manifest stands for that body's "<sha256> <size>", which a fuzzer could
//       not find by itself.
// Before the run, a file stands at the path of every removal line the reader sees: the bytes
// "@GONE@" stands for (a published file's) at even-numbered lines, a user's own bytes at odd ones.
// After each run, what the run asked for is held against the manifest as ManifestReader reads it
// and against the steps the run reported.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "crypto.hpp"
#include "download/pack_run.hpp"
#include "paths/entry_safety.hpp"
#include "file_error.hpp"
#include "fuzz_platform.hpp"
#include "manifest/manifest_freshness.hpp"
#include "manifest/manifest_signature.hpp"
#include "run_report.hpp"
#include "manifest/update_manifest.hpp"
#include "update_run.hpp"

namespace {

// Install folders as the probe gives them: plain, double-byte names (the last ending in a
// trail byte 0x5C, which is no separator) and a network share.
constexpr std::array<std::string_view, 4> kInstallDirs{
    "D:\\Game",
    "C:\\Program Files (x86)\\\xD3\xCE\xCF\xB7",
    "E:\\x\x95\x5C",
    "\\\\server\\share\\app",
};

std::string LocalPath(const std::string& installDir, const ManifestFileEntry& entry) {
  return installDir + entry.to + "\\" + entry.name;
}

// The manifest as the reader sees it: the entries it would hand out in order, as far as the
// count goes, up to the first one it cannot read, that IsSafeEntry refuses, whose hash line is
// malformed or, with a key, that has none, or, without a key, that is the updater's own file as
// Windows resolves paths.
// A store line, read before the count, must be well formed with known features; with one, every
// entry needs a hash line and every file comes from the store by its SHA-256.
// With an index line, the index is fetched once it is well formed, and its entries replace the
// manifest's only when it is the named bytes with a count of 1 or more; all of them are then
// checked before anything is touched.
struct ReaderView {
  bool header = false;
  UpdateManifest manifest;
  bool counted = false;
  std::vector<ManifestFileEntry> entries;
  std::vector<std::optional<FileDigest>> digests;  // of each entry, from its hash line
  std::vector<std::optional<PackLine>> packs;      // of each entry, from its pack line
  bool refused = false;
  std::optional<std::string> store;         // the store line's URL
  std::optional<std::string> indexAddress;  // asked for
  bool indexed = false;                     // its entries were read
  bool indexLine = false;                   // well formed or not
  std::vector<RemovalLine> removals;        // after the last entry, as far as they are well formed
};

// What "@GONE@" in the manifest stands for the hash line of.
constexpr std::string_view kPublishedBytes = "<a file a release dropped>";

// "<store>/<first two hex digits>/<sha256>".
std::string ObjectOf(const std::string& store, const FileDigest& digest) {
  const std::string hex = HexOf(digest.sha256);
  return store + "/" + hex.substr(0, 2) + "/" + hex;
}

bool IsNamedIndex(const std::string& body, const HelperFile& line) {
  return body.size() == static_cast<std::size_t>(line.digest.size) && Sha256Of(body) == line.digest.sha256;
}

ReaderView Read(std::string_view body, bool keyed, const std::string& index, const std::string& installDir) {
  const std::string module = NormaliseWindowsPath(installDir + "\\Merovast.exe").Key();
  const std::string aside = NormaliseWindowsPath(installDir + "\\Merovast.exe.old").Key();
  ReaderView view;
  ManifestReader manifestReader(body);
  view.header = manifestReader.ReadHeader(view.manifest);
  if (!view.header) return view;
  StoreLine store;
  switch (manifestReader.ReadStore(store)) {
    case OptionalLine::kAbsent: break;
    case OptionalLine::kMalformed: view.refused = true; return view;
    case OptionalLine::kPresent:
      if (UnknownStoreFeature(store)) {
        view.refused = true;
        return view;
      }
      view.store = store.url;
      break;
  }
  view.counted = manifestReader.ReadCount(view.manifest);
  if (!view.counted) return view;
  HelperFile line;
  const auto indexLine = manifestReader.ReadIndexLine(line);
  ManifestReader indexReader(index);
  view.indexLine = indexLine != OptionalLine::kAbsent;
  if (indexLine == OptionalLine::kMalformed) {
    view.refused = true;
    return view;
  }
  if (indexLine == OptionalLine::kPresent) {
    view.indexAddress = view.store ? ObjectOf(*view.store, line.digest) : view.manifest.update_url + line.from;
    view.indexed = true;
    if (!IsNamedIndex(index, line) || !indexReader.ReadCount(view.manifest) || view.manifest.FileCount() <= 0) {
      view.refused = true;
      return view;
    }
  }
  ManifestReader& reader = view.indexed ? indexReader : manifestReader;
  for (std::int32_t i = 0; i < view.manifest.FileCount(); ++i) {
    ManifestFileEntry entry;
    FileDigest digest;
    if (!reader.ReadEntry(i, entry) || !IsSafeEntry(entry)) {
      view.refused = true;
      break;
    }
    const std::string path = NormaliseWindowsPath(LocalPath(installDir, entry)).Key();
    if (path == aside)
      FailOracle("an entry at the updater's aside file passes as safe: " + entry.to + "|" + entry.name);
    const auto hash = reader.ReadEntryHash(i, digest);
    if (hash == OptionalLine::kMalformed || ((keyed || view.indexed || view.store) && hash == OptionalLine::kAbsent) ||
        (!keyed && path == module)) {
      view.refused = true;
      break;
    }
    // A pack line comes from a store, never for the updater's own file, and never with a map.
    MapLine map;
    PackLine pack;
    reader.ReadEntryMap(i, map);
    const auto packLine = reader.ReadEntryPack(i, pack);
    if (packLine == OptionalLine::kMalformed ||
        (packLine == OptionalLine::kPresent && (!view.store || path == module))) {
      view.refused = true;
      break;
    }
    view.entries.push_back(std::move(entry));
    view.digests.push_back(hash == OptionalLine::kPresent ? std::optional(digest) : std::nullopt);
    view.packs.push_back(packLine == OptionalLine::kPresent ? std::optional(pack) : std::nullopt);
  }
  if (!view.refused && !view.entries.empty()) reader.ReadRemovals(view.removals);
  return view;
}

// The entries the run reported as already current, which it does not download.
class CurrentEntries : public RunReport {
 public:
  void Report(RunEvent event, int entry, std::string_view) override {
    if (event == RunEvent::kFileCurrent) current.insert(entry);
  }
  std::set<int> current;
};

std::string RemoteAddress(const ReaderView& view, std::size_t i) {
  if (view.packs[i]) return ObjectOf(*view.store, view.packs[i]->pack);
  if (view.store) return ObjectOf(*view.store, *view.digests[i]);
  return view.manifest.update_url + view.entries[i].from + "/" + view.entries[i].name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string_view served = input.substr(0, nul);
  const std::string_view setup = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
  const auto setupByte = [&setup](std::size_t i) { return i < setup.size() ? static_cast<std::uint8_t>(setup[i]) : 0; };

  const std::string index(setup.size() > 2 ? setup.substr(2) : std::string_view());
  std::string manifest(served);
  if (const auto at = manifest.find("@INDEX@"); at != std::string::npos) {
    manifest.replace(at, 7, HashValue({*Sha256Of(index), static_cast<std::int32_t>(index.size())}));
  }
  for (auto at = manifest.find("@GONE@"); at != std::string::npos; at = manifest.find("@GONE@", at))
    manifest.replace(at, 6, HashValue({*Sha256Of(kPublishedBytes), static_cast<std::int32_t>(kPublishedBytes.size())}));
  const std::string_view text = std::string_view(manifest).substr(0, kManifestLimit);
  const bool keyed = setupByte(0) & 0x10;
  const std::string installDir(kInstallDirs[(setupByte(0) >> 2) % kInstallDirs.size()]);
  const ReaderView view = Read(text, keyed, index, installDir);
  FuzzPlatform platform(installDir, manifest);
  platform.ServeIndex(index);
  for (std::size_t i = 0; i < view.removals.size(); ++i)
    platform.PlaceFile(installDir + view.removals[i].path,
                       std::string(i % 2 == 0 ? kPublishedBytes : "<a user's own file>"));
  platform.SetTarget(setupByte(0) & 1 ? view.manifest.update_version : "",
                     setupByte(0) & 2 ? view.manifest.FileSize() : -1);
  platform.SetSignatureHolds(setupByte(0) & 0x20);
  const std::size_t failAt = setupByte(1) & 0x80 ? setupByte(1) & 0x3F : SIZE_MAX;
  if (failAt != SIZE_MAX)
    platform.FailDownload(failAt,
                          setupByte(1) & 0x40 ? FuzzPlatform::Failure::kFileError : FuzzPlatform::Failure::kNotServed);

  UpdateOptions options(ManifestUrlOf("127.0.0.1"));
  if (keyed) options.publicKeys = {PublicKey{}};
  CurrentEntries report;
  options.report = &report;
  int result = -1;
  try {
    result = UpdateRun(platform, options);
  } catch (const FileError&) {
    // A failed write ends the run this way; the checks below still hold.
  }

  // Nothing is removed that is not byte for byte a line's at its path, nor a file the release, the
  // target or the updater keeps, nor by a run that does not succeed.
  if (result != 1 && !platform.removed().empty()) FailOracle("a run that did not succeed removed a file");
  std::set<std::string> kept{NormaliseWindowsPath(installDir + "\\Merovast.exe").Key(),
                             NormaliseWindowsPath(installDir + "\\Merovast.exe.old").Key(),
                             NormaliseWindowsPath(installDir + "\\Ostravine.exe").Key()};
  for (const ManifestFileEntry& entry : view.entries)
    kept.insert(NormaliseWindowsPath(LocalPath(installDir, entry)).Key());
  for (const auto& removed : platform.removed()) {
    const std::string& key = removed.first;
    const FileDigest digest{*Sha256Of(removed.second), static_cast<std::int32_t>(removed.second.size())};
    if (kept.contains(key)) FailOracle("a removal line removed a file that stays: " + key);
    const bool lineOf = std::any_of(view.removals.begin(), view.removals.end(), [&](const RemovalLine& line) {
      return NormaliseWindowsPath(installDir + line.path).Key() == key && line.digest == digest;
    });
    if (!lineOf) FailOracle("a file removed that is not byte for byte a removal line's: " + key);
  }

  if (platform.fetches() != std::vector<std::string>{options.manifestUrl})
    FailOracle("the manifest is not fetched once");
  if (!platform.FileAt(installDir + "\\Merovast.exe")) FailOracle("the run left no updater at the module path");
  const std::vector<std::string>& downloads = platform.downloads();
  // With a key, only a signed manifest is read at all.
  const bool signedOk = !keyed || (FindManifestSignature(text) && (setupByte(0) & 0x20));
  // With a key, an expired manifest or an older release ends the run before the up-to-date test.
  ManifestReader headerReader(text);
  UpdateManifest header;
  const bool stale =
      keyed && headerReader.ReadHeader(header) &&
      StaleManifestRefusal(headerReader, header.update_version, platform.GetTargetVersion(), platform.GetUtcSeconds());
  const bool current = view.header && platform.GetTargetVersion() == view.manifest.update_version &&
                       platform.GetTargetFileSize() == view.manifest.FileSize();
  const std::size_t count = view.counted ? static_cast<std::size_t>(std::max(view.manifest.FileCount(), 0)) : 0;
  const bool indexAsked = signedOk && !stale && !current && view.indexAddress;
  if (platform.indexFetches() !=
      (indexAsked ? std::vector<std::string>{*view.indexAddress} : std::vector<std::string>{}))
    FailOracle("the index is not asked for exactly when a well-formed line names it");
  if (!signedOk || !view.header || stale || current) {
    if (!downloads.empty() || platform.foldersMade() > 0)
      FailOracle("a download or a folder without an out-of-date target");
    if (result != (signedOk && view.header && !stale ? 1 : 0)) FailOracle("wrong result without downloads");
    return 0;
  }
  // With a key, an index line or a store line, every entry is checked before the first folder or file.
  if ((keyed || view.indexLine || view.store) && view.counted && view.refused &&
      (!downloads.empty() || platform.foldersMade() > 0 || result == 1))
    FailOracle("a run touched the disk for a manifest or an index it refuses whole");
  if (downloads.size() > count) FailOracle("more downloads than entries");
  // The requests follow the reader's entries in order, less those reported current, and stop at
  // the first one it refuses; files of one pack that the gap rule joins share one request.
  std::vector<std::string> expected;
  std::optional<std::pair<FileDigest, std::uint64_t>> request;  // its pack, and where it ends
  for (std::size_t i = 0; i < view.entries.size(); ++i) {
    if (report.current.contains(static_cast<int>(i))) continue;
    const std::optional<PackLine>& pack = view.packs[i];
    const std::uint64_t end = pack ? pack->offset + static_cast<std::uint64_t>(view.digests[i]->size) : 0;
    if (pack && request && request->first == pack->pack && JoinsRequest(request->second, pack->offset)) {
      request->second = end;
      continue;
    }
    expected.push_back(RemoteAddress(view, i));
    request.reset();
    if (pack) request.emplace(pack->pack, end);
  }
  if (downloads.size() > expected.size()) FailOracle("a download past the entries the reader accepts");
  for (std::size_t i = 0; i < downloads.size(); ++i)
    if (downloads[i] != expected[i])
      FailOracle("download " + std::to_string(i) + " is not the reader's entry: " + downloads[i]);
  for (int entry : report.current)
    if (entry < 0 || static_cast<std::size_t>(entry) >= view.entries.size())
      FailOracle("an entry the reader refuses was reported current");

  // A failed download ends the run with failure, whatever follows it.
  const std::size_t failed = platform.firstFailure();
  if (failed < downloads.size() && (result == 1 || downloads.size() != failed + 1))
    FailOracle("the run went on or succeeded after download " + std::to_string(failed) + " failed");

  if (result == 1) {
    if (!view.counted || view.refused || view.entries.size() != count)
      FailOracle("success though the reader refuses the manifest");
    // Each file downloaded holds what was served for its last download (its bytes of its pack),
    // however the listings spell its path, and the size and SHA-256 of its hash line; a file found
    // current was left as it was.
    struct ExpectedFile {
      // cppcheck-suppress unusedStructMember ; read below through the map's structured binding
      std::string path;
      // cppcheck-suppress unusedStructMember ; read below through the map's structured binding
      std::string bytes;
      std::optional<FileDigest> digest;
    };
    std::map<std::string, ExpectedFile> expectedFiles;
    for (std::size_t i = 0; i < view.entries.size(); ++i) {
      if (report.current.contains(static_cast<int>(i))) continue;
      const ManifestFileEntry& entry = view.entries[i];
      const std::string path = LocalPath(installDir, entry);
      std::string bytes = FuzzPlatform::BodyOf(RemoteAddress(view, i));
      if (const auto& pack = view.packs[i])
        bytes = FuzzPlatform::PackBytes(RemoteAddress(view, i), pack->offset,
                                        static_cast<std::uint64_t>(view.digests[i]->size));
      expectedFiles[NormaliseWindowsPath(path).Key()] = {path, std::move(bytes), view.digests[i]};
    }
    for (const auto& [key, file] : expectedFiles) {
      const std::optional<std::string> found = platform.FileAt(file.path);
      if (found != file.bytes) FailOracle("success without the served bytes in " + file.path);
      if (file.digest && FuzzPlatform::DigestOf(*found) != *file.digest)
        FailOracle("success with a file that is not its hash line's: " + file.path);
    }
  }
  return 0;
}
