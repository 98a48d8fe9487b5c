// How one file of a release is fetched, decided in one place: which runs are copied from the
// files already on disk (the old file, a killed run's partial download), which byte ranges are
// asked of the server, or one whole download. The updater, the tests' platforms and the
// publisher's plan carry out the same plan with their own primitives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "blocks/block_map.hpp"
#include "blocks/block_matcher.hpp"
#include "file_digest.hpp"
#include "manifest/update_manifest.hpp"

// Where a release's files are served: below update_url, each by its from, or, when the manifest
// has a store line, in that store by SHA-256.
struct ServedRelease {
  std::string updateUrl;
  std::optional<std::string> store;  // the store line's URL
};

// The object of that SHA-256 in the store at `storeUrl`: "<storeUrl>/<first two hex digits>/<sha256>".
std::string ObjectAddress(std::string_view storeUrl, const Sha256Digest& sha256);
// The one composition of every address the run asks for (entries, the index, the maps): the
// object of `digest` when the release has a store, otherwise update_url followed by `path`. A run
// with a store has a digest for every file; without one the address stays below update_url.
std::string ServedAddress(const ServedRelease& release, std::string_view path, const FileDigest* digest);
// An entry's address: its from, "/" and its name below update_url, or its object in the store.
std::string EntryAddress(const ServedRelease& release, const ManifestFileEntry& entry, const FileDigest* digest);
// The address of the index or a map: its from below update_url, or its object in the store.
std::string HelperFileAddress(const ServedRelease& release, const HelperFile& file);
// The same for a release without a store.
std::string ServedAddress(std::string_view updateUrl, std::string_view path);
std::string EntryAddress(std::string_view updateUrl, const ManifestFileEntry& entry);

// Where a file's bytes are served: from `offset` of the object at `address`, the whole object
// or, in a pack, `length` bytes of it.
struct ServedObject {
  std::string address;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;    // of the object
  std::uint64_t length = 0;  // of the file in a pack; 0: the file is the whole object
};

// Bytes [first, last] of an object of `total` bytes.
struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::uint64_t total = 0;
};

enum class RangeAnswer {
  kPart,         // exactly the range arrived and went to the new file
  kWhole,        // the server sent the whole file (200): the new file started afresh, took it and kept it
  kWholeFailed,  // it sent the whole file, which could not be kept
  kRefused,      // anything else: a status other than 200 and 206, another Content-Range, another length
};

// The files beside a destination that a download may start from, as found before any is opened.
struct SeedsOnDisk {
  bool oldFile = false;  // the destination itself
  bool partial = false;  // NAME.download of a killed run, or NAME.seed an earlier run kept
};

// The files on disk a download starts from, opened and held until the new file is in place or
// the download is given up, and the new file that is written beside the destination meanwhile.
class Replacement {
 public:
  virtual ~Replacement() = default;
  // The seeds, read in place: 0 the old file, 1 the killed run's partial download (NAME.download,
  // or else NAME.seed). A missing one is empty.
  virtual SeedFile& Seed(int index) = 0;
  // Appends `length` bytes of seed `index` from `offset` to the new file; false when they cannot
  // be read.
  virtual bool Copy(int index, std::uint64_t offset, std::uint64_t length) = 0;
  // Appends bytes that arrived for the new file; false once they are more than its size.
  virtual bool Append(const char* data, std::size_t size) = 0;
  // Starts the new file afresh; false when it cannot be.
  virtual bool Restart() = 0;
  // Appends the range of the object at `address`, or takes its whole body when the server sends it.
  virtual RangeAnswer FetchRange(const std::string& address, const ByteRange& range) = 0;
  // The whole body at `address`, the new file started afresh; 1 when it is kept and in place.
  virtual int FetchWhole(const std::string& address) = 0;
  // Puts the new file in place when it has exactly the expected size and SHA-256.
  virtual bool Finish() = 0;
};

// What is known of one file when its fetch is decided. The decision is asked again as more
// becomes known: the seeds once opened, the map once fetched.
struct FileToFetch {
  ServedObject source;
  const FileDigest* expected = nullptr;  // null: no hash line
  bool hasMapLine = false;
  SeedsOnDisk onDisk;
  Replacement* seeds = nullptr;  // once opened
  bool mapFetched = false;       // the map was asked for; `map` is null when it could not be had
  const BlockMap* map = nullptr;
};

struct DownloadPlan {
  enum class Next {
    kWhole,      // one whole download, nothing opened before the server answers
    kOpenSeeds,  // open the seeds and decide again
    kFetchMap,   // fetch the map and decide again
    kWholeInto,  // one whole download into the opened replacement
    kAssemble,   // the steps below, into the opened replacement
  };
  Next next = Next::kWhole;
  // The new file from its first byte to its last: runs copied from a seed and runs fetched
  // (seed -1), at offsets within the file.
  std::vector<AssemblyStep> steps;
};

// The one decision. A file is started from what is on disk only when its bytes are known (a hash
// line), since only the final hash can tell whether a copied byte was right. With a map, every
// block the old file or the partial download holds is copied, and the map is asked for only when
// one of them holds bytes; without one, a partial download that is a prefix of the file is kept
// and the rest asked for in one range.
DownloadPlan PlanDownload(const FileToFetch& file);

// The range of the object that a fetched step of the plan asks for.
ByteRange RangeOf(const ServedObject& source, const AssemblyStep& step);

// Carries out kWholeInto or kAssemble. Anything unexpected (a seed that cannot be read, a range
// refused, assembled bytes that fail the hash) ends in one whole download, or for a file in a
// pack in one range of all its bytes. 1 when the file is in place.
int CarryOut(const DownloadPlan& plan, const ServedObject& source, Replacement& replacement);
