#include "blocks/block_matcher.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "blocks/block_checksum.hpp"

namespace {

constexpr std::size_t kReadSize = std::size_t{1} << 20;

// A filter of about 64 bits per block (at most 2 MiB) passes a position without a block about
// once in 64: most positions cost a roll and one bit.
int FilterBits(std::size_t blocks) {
  int bits = 12;
  while (bits < 24 && (std::size_t{1} << bits) < blocks * 64) ++bits;
  return bits;
}

// The whole blocks of a map by checksum, with a bit filter that rejects most positions at once.
class BlockIndex {
 public:
  explicit BlockIndex(const BlockMap& map)
      : shift_(32 - FilterBits(map.BlockCount())), filter_((std::size_t{1} << (32 - shift_)) / 64) {
    for (std::size_t block = 0; block < map.BlockCount(); ++block) {
      if (map.BlockLength(block) != map.blockSize) continue;
      entries_.emplace_back(map.checksums[block], block);
      const std::uint32_t bit = map.checksums[block] >> shift_;
      filter_[bit / 64] |= std::uint64_t{1} << (bit % 64);
    }
    std::sort(entries_.begin(), entries_.end());
  }

  bool MayHold(std::uint32_t checksum) const {
    const std::uint32_t bit = checksum >> shift_;
    return (filter_[bit / 64] >> (bit % 64)) & 1;
  }
  // The blocks with this checksum.
  std::pair<const std::pair<std::uint32_t, std::size_t>*, const std::pair<std::uint32_t, std::size_t>*> With(
      std::uint32_t checksum) const {
    const auto range = std::equal_range(entries_.begin(), entries_.end(), std::pair{checksum, std::size_t{0}},
                                        [](const auto& a, const auto& b) { return a.first < b.first; });
    return {entries_.data() + (range.first - entries_.begin()), entries_.data() + (range.second - entries_.begin())};
  }

 private:
  int shift_;
  std::vector<std::pair<std::uint32_t, std::size_t>> entries_;
  std::vector<std::uint64_t> filter_;
};

// A window over a seed that slides forward through one buffer.
class SeedWindow {
 public:
  SeedWindow(SeedFile& seed, std::size_t blockSize)
      : seed_(seed),
        buffer_(static_cast<std::size_t>(std::min<std::uint64_t>(seed.Size(), kReadSize)) + blockSize + 1) {}

  // Whether bytes [at, at + size) exist; they are then at Bytes(at).
  bool Has(std::uint64_t at, std::size_t size) {
    if (at >= start_ && at + size <= start_ + length_) return true;
    const std::uint64_t end = start_ + length_;
    const std::size_t kept = end > at ? static_cast<std::size_t>(end - at) : 0;
    if (kept > 0) std::memmove(buffer_.data(), buffer_.data() + (at - start_), kept);
    start_ = at;
    length_ = kept;
    while (length_ < buffer_.size() && !ended_) {
      const std::size_t got = seed_.Read(start_ + length_, buffer_.data() + length_, buffer_.size() - length_);
      if (got == 0) ended_ = true;
      length_ += got;
    }
    return at + size <= start_ + length_;
  }
  const unsigned char* Bytes(std::uint64_t at) const { return buffer_.data() + (at - start_); }
  std::uint64_t End() const { return start_ + length_; }

 private:
  SeedFile& seed_;
  std::vector<unsigned char> buffer_;
  std::uint64_t start_ = 0;
  std::size_t length_ = 0;
  bool ended_ = false;
};

class Matcher {
 public:
  Matcher(const BlockMap& map, std::vector<BlockOrigin>& origins) : map_(map), index_(map), origins_(origins) {}

  void Scan(int seedIndex, SeedFile& seed);
  bool AllFound() const { return found_ == map_.BlockCount(); }

 private:
  // Marks every block with this checksum and hash as found at `offset`; the first of them, or
  // the block count when there is none.
  std::size_t Take(int seed, std::uint64_t offset, std::uint32_t checksum, const unsigned char* window);
  void Mark(std::size_t block, int seed, std::uint64_t offset) {
    if (origins_[block].seed >= 0) return;
    origins_[block] = {seed, offset};
    ++found_;
  }
  void ScanTail(int seedIndex, SeedFile& seed);

  const BlockMap& map_;
  BlockIndex index_;
  std::vector<BlockOrigin>& origins_;
  std::size_t found_ = 0;
};

std::size_t Matcher::Take(int seed, std::uint64_t offset, std::uint32_t checksum, const unsigned char* window) {
  const auto [first, last] = index_.With(checksum);
  std::size_t taken = map_.BlockCount();
  if (first == last) return taken;
  const std::uint64_t hash = BlockHash(window, map_.blockSize);
  for (auto it = first; it != last; ++it) {
    if (map_.hashes[it->second] != hash) continue;
    Mark(it->second, seed, offset);
    taken = std::min(taken, it->second);
  }
  return taken;
}

void Matcher::Scan(int seedIndex, SeedFile& seed) {
  const std::size_t blockSize = map_.blockSize;
  SeedWindow window(seed, blockSize);
  RollingChecksum checksum(blockSize);
  std::uint64_t at = 0;
  bool fresh = true;
  // The block expected next where blocks follow each other: checked by its hash alone.
  std::size_t next = map_.BlockCount();
  while (!AllFound() && window.Has(at, blockSize)) {
    const unsigned char* bytes = window.Bytes(at);
    if (next < map_.BlockCount() && map_.BlockLength(next) == blockSize &&
        BlockHash(bytes, blockSize) == map_.hashes[next]) {
      Mark(next, seedIndex, at);
      ++next;
      at += blockSize;
      continue;
    }
    next = map_.BlockCount();
    if (fresh) {
      checksum.Reset(bytes);
      fresh = false;
    }
    const std::uint32_t value = checksum.Value();
    const std::size_t taken = index_.MayHold(value) ? Take(seedIndex, at, value, bytes) : map_.BlockCount();
    if (taken < map_.BlockCount()) {
      // A run of blocks most likely goes on as it did in the new file.
      next = taken + 1;
      at += blockSize;
      fresh = true;
      continue;
    }
    if (!window.Has(at, blockSize + 1)) break;
    // Rolls on through the buffer while the filter turns every position down.
    bytes = window.Bytes(at);
    const std::uint64_t rolls = window.End() - at - blockSize;
    std::uint64_t rolled = 0;
    while (rolled < rolls) {
      checksum.Roll(bytes[rolled], bytes[rolled + blockSize]);
      ++rolled;
      if (index_.MayHold(checksum.Value())) break;
    }
    at += rolled;
  }
  ScanTail(seedIndex, seed);
}

// A short last block is looked for where it stands in the new file and at the seed's end.
void Matcher::ScanTail(int seedIndex, SeedFile& seed) {
  const std::size_t last = map_.BlockCount() - 1;
  if (map_.BlockCount() == 0 || map_.BlockLength(last) == map_.blockSize || origins_[last].seed >= 0) return;
  const std::uint32_t length = map_.BlockLength(last);
  const std::uint64_t size = seed.Size();
  std::vector<unsigned char> bytes(length);
  for (const std::uint64_t at : {map_.BlockStart(last), size >= length ? size - length : size}) {
    if (at + length > size) continue;
    if (seed.Read(at, bytes.data(), length) == length && BlockHash(bytes.data(), length) == map_.hashes[last]) {
      Mark(last, seedIndex, at);
      return;
    }
  }
}

}  // namespace

std::vector<BlockOrigin> MatchBlocks(const BlockMap& map, const std::vector<SeedFile*>& seeds) {
  std::vector<BlockOrigin> origins(map.BlockCount());
  Matcher matcher(map, origins);
  for (std::size_t i = 0; i < seeds.size() && !matcher.AllFound(); ++i) matcher.Scan(static_cast<int>(i), *seeds[i]);
  return origins;
}

std::vector<AssemblyStep> PlanAssembly(const BlockMap& map, const std::vector<BlockOrigin>& origins,
                                       std::uint64_t mergeGap) {
  std::vector<AssemblyStep> plan;
  const auto isFetch = [](const AssemblyStep& step) { return step.seed < 0; };
  for (std::size_t block = 0; block < map.BlockCount(); ++block) {
    const BlockOrigin origin = block < origins.size() ? origins[block] : BlockOrigin{};
    AssemblyStep step{origin.seed, origin.offset, map.BlockStart(block), map.BlockLength(block)};
    if (!plan.empty()) {
      AssemblyStep& last = plan.back();
      if (isFetch(step) && isFetch(last)) {
        last.length += step.length;
        continue;
      }
      if (!isFetch(step) && last.seed == step.seed && last.seedOffset + last.length == step.seedOffset) {
        last.length += step.length;
        continue;
      }
      if (isFetch(step) && plan.size() >= 2 && last.length <= mergeGap && isFetch(plan[plan.size() - 2])) {
        const std::uint64_t gap = last.length;
        plan.pop_back();
        plan.back().length += gap + step.length;
        continue;
      }
    }
    plan.push_back(step);
  }
  return plan;
}

std::uint64_t FetchedBytes(const std::vector<AssemblyStep>& plan) {
  std::uint64_t total = 0;
  for (const AssemblyStep& step : plan)
    if (step.seed < 0) total += step.length;
  return total;
}
