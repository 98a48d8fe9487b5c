// The release store: every file, index and map of the releases once, under its SHA-256, as
// WEB_ROOT/o/<first two hex digits>/<sha256>. Its names are ASCII, so that any static host, object
// store or CDN can serve it, and a file that two releases share costs once. Beside it, the record
// of each release staged into it: a copy of its manifest, WEB_ROOT/releases/NNNNNN.htm in staging
// order, from which prune, check and plan learn which objects a release needs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_digest.hpp"
#include "manifest/map_line.hpp"
#include "manifest/pack_line.hpp"

inline constexpr const char* kStoreFolder = "o";
inline constexpr const char* kRecordsFolder = "releases";
// `manifest --store` writes the objects beside OUTPUT, in OUTPUT followed by this.
inline constexpr const char* kObjectsSuffix = ".objects";

// Where the object of `sha256` lies below a store folder: "<xx>/<sha256>".
std::filesystem::path ObjectPath(const std::filesystem::path& store, const Sha256Digest& sha256);

// The object that an address of the form ".../<xx>/<sha256>" names, below `store`, when the address
// ends so: objects are found by their name, whatever the store URL's path.
std::optional<std::filesystem::path> ObjectPathOf(const std::filesystem::path& store, std::string_view address);

// One object of a release: a file of the release folder, or bytes made in memory (the index, a map).
struct StoreObject {
  FileDigest digest;
  std::optional<std::filesystem::path> file;
  std::string bytes;
};

// The objects a store lacks; throws PublishError when one that is there holds other bytes than its
// name says. Reads the objects that are there; writes nothing.
std::vector<StoreObject> MissingObjects(const std::filesystem::path& store, const std::vector<StoreObject>& objects);

// Writes `missing` into the store, each through a temporary dot-file that is flushed and renamed,
// a file checked against its name as it is copied; then flushes every folder written to. Returns
// the bytes written.
std::uintmax_t WriteObjects(const std::filesystem::path& store, const std::vector<StoreObject>& missing);

// The size and SHA-256 check of an object present in `store`: empty when it holds what its name and
// `digest` say, else why not.
std::string ObjectProblem(const std::filesystem::path& store, const FileDigest& digest);

// Removes what runs cut short left in the store and among the records: their temporary dot-files.
void RemoveUnfinishedObjects(const std::filesystem::path& webRoot);

// The records of a web root, oldest first.
std::vector<std::filesystem::path> ReleaseRecords(const std::filesystem::path& webRoot);

// Records `manifest` as the newest staged release, replacing the newest record when it is of the same
// version (a release staged again). Returns the record's path.
std::filesystem::path RecordRelease(const std::filesystem::path& webRoot, std::string_view manifest);

// The update_version of a manifest, or nothing when its header does not read.
std::optional<std::string> ManifestVersion(std::string_view manifest);

using IndexVisitor = std::function<void(const FileDigest& index)>;
using EntryVisitor = std::function<void(const FileDigest& file, const MapLine* map, const PackLine* pack)>;

// Every entry with a hash line of a manifest with a store line, from its index when it has one
// (read from the store folder `objects`, and given to `index` first); nothing for a manifest without
// one. Throws PublishError when the index is not there as named.
void ForEachStoredEntry(std::string_view manifest, const std::filesystem::path& objects, const std::string& shown,
                        const IndexVisitor& index, const EntryVisitor& visit);

// What a manifest with a store line names by hash: its entries (a packed one by its pack), its
// index and their maps (nothing for a manifest without one). The index is read from the store folder `objects`; throws
// PublishError when it is not there as named, since the release's objects are then unknown.
std::vector<FileDigest> ObjectsNamedBy(std::string_view manifest, const std::filesystem::path& objects,
                                       const std::string& shown);
