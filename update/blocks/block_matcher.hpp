// Finds the blocks of a map in older copies of a file (the installed file, a partial download),
// wherever they stand there, and plans the new file as runs to copy and runs to fetch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "blocks/block_map.hpp"

// An older copy of the file, read in place.
class SeedFile {
 public:
  virtual ~SeedFile() = default;
  virtual std::uint64_t Size() = 0;
  // Up to `size` bytes at `offset`; fewer only at the end or when the rest cannot be read.
  virtual std::size_t Read(std::uint64_t offset, unsigned char* data, std::size_t size) = 0;
};

// Where a block of the new file can be copied from.
struct BlockOrigin {
  int seed = -1;  // an index into the seeds, or -1 when no seed holds it
  std::uint64_t offset = 0;
};

// Scans each seed once, a byte at a time where nothing matches and a block at a time where the
// blocks follow each other. A block found in an earlier seed keeps that origin. Memory: the
// map's checksums sorted, a filter of 64 bits per block and one read buffer of 1 MiB.
std::vector<BlockOrigin> MatchBlocks(const BlockMap& map, const std::vector<SeedFile*>& seeds);

struct AssemblyStep {
  int seed = -1;  // the seed to copy from, or -1 for bytes to fetch
  std::uint64_t seedOffset = 0;
  std::uint64_t offset = 0;  // where the run starts in the new file
  std::uint64_t length = 0;
};

// Fetched runs of one request each may be separated by little: a copied run of at most this
// many bytes between two fetched runs is fetched with them.
inline constexpr std::uint64_t kMergeGap = std::uint64_t{64} << 10;

// The new file from its first byte to its last, as copied and fetched runs in order.
std::vector<AssemblyStep> PlanAssembly(const BlockMap& map, const std::vector<BlockOrigin>& origins,
                                       std::uint64_t mergeGap = kMergeGap);

// The bytes a plan fetches.
std::uint64_t FetchedBytes(const std::vector<AssemblyStep>& plan);
