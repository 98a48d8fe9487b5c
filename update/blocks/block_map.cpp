#include "blocks/block_map.hpp"

#include <algorithm>

#include "blocks/block_checksum.hpp"

namespace {

constexpr char kMagic[8] = {'M', 'V', 'B', 'M', 1, 0, 0, 0};
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kBlockEntrySize = 12;
constexpr std::uint32_t kSmallestBlock = 1024;
constexpr std::uint32_t kLargestBlock = 1024 * 1024;

void Put(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

std::uint64_t Get(std::string_view in, std::size_t at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(in[at + i]);
  return value;
}

}  // namespace

std::uint32_t BlockMap::BlockLength(std::size_t block) const {
  const std::uint64_t start = BlockStart(block);
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(blockSize, fileSize - start));
}

std::uint64_t BlockMapSize(std::uint64_t fileSize, std::uint32_t blockSize) {
  return kHeaderSize + kBlockEntrySize * ((fileSize + blockSize - 1) / blockSize);
}

BlockMapBuilder::BlockMapBuilder(std::uint32_t blockSize) {
  map_.blockSize = blockSize;
  pending_.reserve(blockSize);
}

void BlockMapBuilder::AddBlock(const unsigned char* data, std::size_t size) {
  map_.checksums.push_back(WindowChecksum(data, size));
  map_.hashes.push_back(BlockHash(data, size));
}

void BlockMapBuilder::Add(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  size_ += size;
  while (size > 0) {
    if (pending_.empty() && size >= map_.blockSize) {
      AddBlock(bytes, map_.blockSize);
      bytes += map_.blockSize;
      size -= map_.blockSize;
      continue;
    }
    const std::size_t taken = std::min<std::size_t>(size, map_.blockSize - pending_.size());
    pending_.insert(pending_.end(), bytes, bytes + taken);
    bytes += taken;
    size -= taken;
    if (pending_.size() == map_.blockSize) {
      AddBlock(pending_.data(), pending_.size());
      pending_.clear();
    }
  }
}

std::optional<BlockMap> BlockMapBuilder::Finish() {
  if (size_ > INT32_MAX) return std::nullopt;
  if (!pending_.empty()) AddBlock(pending_.data(), pending_.size());
  pending_.clear();
  map_.fileSize = static_cast<std::uint32_t>(size_);
  return std::move(map_);
}

std::string SerializeBlockMap(const BlockMap& map) {
  std::string out(kMagic, sizeof kMagic);
  Put(out, map.blockSize, 4);
  Put(out, map.fileSize, 4);
  for (std::size_t i = 0; i < map.BlockCount(); ++i) {
    Put(out, map.checksums[i], 4);
    Put(out, map.hashes[i], 8);
  }
  return out;
}

std::optional<BlockMap> ParseBlockMap(std::string_view bytes, std::int32_t fileSize) {
  if (fileSize < 0 || bytes.size() < kHeaderSize || bytes.substr(0, sizeof kMagic) != std::string_view(kMagic, 8))
    return std::nullopt;
  BlockMap map;
  map.blockSize = static_cast<std::uint32_t>(Get(bytes, 8, 4));
  map.fileSize = static_cast<std::uint32_t>(Get(bytes, 12, 4));
  const bool powerOfTwo = (map.blockSize & (map.blockSize - 1)) == 0;
  if (!powerOfTwo || map.blockSize < kSmallestBlock || map.blockSize > kLargestBlock ||
      map.fileSize != static_cast<std::uint32_t>(fileSize) || bytes.size() != BlockMapSize(map.fileSize, map.blockSize))
    return std::nullopt;
  const std::size_t count = (bytes.size() - kHeaderSize) / kBlockEntrySize;
  map.checksums.reserve(count);
  map.hashes.reserve(count);
  for (std::size_t at = kHeaderSize; at < bytes.size(); at += kBlockEntrySize) {
    map.checksums.push_back(static_cast<std::uint32_t>(Get(bytes, at, 4)));
    map.hashes.push_back(Get(bytes, at + 4, 8));
  }
  return map;
}
