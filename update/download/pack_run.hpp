// Files that lie in one pack object are fetched together: consecutive entries that need
// downloading and point into the same pack are one single-range request over it, and its body
// is cut into the entries' files as it arrives, in entry order. Each file keeps its own folder,
// new file, size and SHA-256 check and rename, through its own Replacement.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "download/download_plan.hpp"
#include "download/object_stream.hpp"
#include "update_platform.hpp"

// The bytes of a pack one request reads through and discards between two files it wants rather
// than start a request of its own: a round trip costs more than this many bytes on any line the
// updater meets, and a gap this small costs little on a slow one.
inline constexpr std::uint64_t kPackGap = std::uint64_t{64} << 10;

// One entry of a run: its bytes in the pack, and whether it is already in place, in which case
// it is only stepped over (and its bytes, if the request covers them, discarded). A current entry
// need not lie in the pack at all: it costs the run nothing.
struct PackedFile {
  int entry = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  bool current = false;
};

// Whether a file to download at `offset` joins a request that has read up to `end` (exclusive):
// only forwards, and at most kPackGap bytes on. An offset that goes backwards or overlaps, or a
// larger gap, starts a new request.
bool JoinsRequest(std::uint64_t end, std::uint64_t offset);

// What carries out a run's files in entry order: the run's own effects, for each file as the
// stream reaches it.
class PackRunTarget {
 public:
  virtual ~PackRunTarget() = default;
  // A file to download is reached: its folder, then its new file; null when it cannot be had.
  virtual std::unique_ptr<Replacement> Open(const PackedFile& file) = 0;
  // A current file is stepped over.
  virtual void Current(const PackedFile& file) = 0;
  // A file is in place.
  virtual void Placed(const PackedFile& file) = 0;
};

// Transfers the run's one request over the pack `source` (its address and size). `files` are in
// entry order, the first one to download, every later file to download joined by JoinsRequest. The
// request is the range from the first file to download to the end of the last (the whole pack,
// without a Range header, when that covers it). A 200 is the whole pack, read until the last file ends. Any other wrong
// answer (another status, another Content-Range, a short body) fetches each file left once as its
// own range. True when every file is in place; otherwise `failed` is the entry that is not.
bool CarryOutPackRun(UpdatePlatform& platform, const ServedObject& source, const std::vector<PackedFile>& files,
                     PackRunTarget& target, int& failed);
