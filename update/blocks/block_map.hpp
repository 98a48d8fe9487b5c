// A block map: what the updater needs to find which blocks of a file an older copy or a partial
// download already holds, wherever they stand there. The file is cut into blocks of a fixed
// size (the last one may be shorter); each has a rolling checksum and a 64-bit hash.
//
// Bytes, little-endian: "MVBM" 1 0 0 0, the block size (u32), the file size (u32), then per
// block its checksum (u32) and its hash (u64). Nothing else, so a map's size follows from the
// file's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct BlockMap {
  std::uint32_t blockSize = 0;
  std::uint32_t fileSize = 0;
  std::vector<std::uint32_t> checksums;
  std::vector<std::uint64_t> hashes;

  std::size_t BlockCount() const { return checksums.size(); }
  std::uint64_t BlockStart(std::size_t block) const { return std::uint64_t{blockSize} * block; }
  std::uint32_t BlockLength(std::size_t block) const;
};

// The publisher's block size: see the README for why.
inline constexpr std::uint32_t kMapBlockSize = std::uint32_t{16} << 10;
// The size of a map of a file of `fileSize` bytes in blocks of `blockSize`.
std::uint64_t BlockMapSize(std::uint64_t fileSize, std::uint32_t blockSize);

// Builds the map of a file handed over in pieces of any size.
class BlockMapBuilder {
 public:
  explicit BlockMapBuilder(std::uint32_t blockSize = kMapBlockSize);
  void Add(const void* data, std::size_t size);
  // Nothing when the file is larger than a map can state.
  std::optional<BlockMap> Finish();

 private:
  void AddBlock(const unsigned char* data, std::size_t size);

  BlockMap map_;
  std::uint64_t size_ = 0;
  std::vector<unsigned char> pending_;
};

std::string SerializeBlockMap(const BlockMap& map);

// The map in `bytes` for a file of `fileSize` bytes; nothing unless the bytes are exactly such a
// map, with a block size that is a power of two from 1 KiB to 1 MiB.
std::optional<BlockMap> ParseBlockMap(std::string_view bytes, std::int32_t fileSize);
