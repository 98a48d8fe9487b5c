// Block maps and the matcher: the new file assembled from a seed and the fetched runs is the
// new file, and only what the seed lacks is fetched.
#include "blocks/block_matcher.hpp"

#include <gtest/gtest.h>

#include <random>

#include "blocks/block_checksum.hpp"
#include "fake_platform.hpp"

namespace {

constexpr std::size_t kBlock = 4096;

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

BlockMap MapOf(const std::string& bytes, std::uint32_t blockSize = static_cast<std::uint32_t>(kBlock)) {
  BlockMapBuilder builder(blockSize);
  // In uneven pieces, as a file is read.
  for (std::size_t at = 0; at < bytes.size(); at += 1000)
    builder.Add(bytes.data() + at, std::min<std::size_t>(1000, bytes.size() - at));
  return *builder.Finish();
}

struct Assembled {
  std::string bytes;
  std::uint64_t fetched = 0;
  std::size_t requests = 0;
};

Assembled Assemble(const std::string& wanted, std::vector<std::string> seedBytes) {
  const BlockMap map = MapOf(wanted);
  std::vector<FakePlatform::MemorySeed> seeds;
  seeds.reserve(seedBytes.size());
  for (std::string& bytes : seedBytes) seeds.emplace_back(std::move(bytes));
  std::vector<SeedFile*> pointers;
  pointers.reserve(seeds.size());
  for (auto& seed : seeds) pointers.push_back(&seed);
  Assembled out;
  for (const AssemblyStep& step : PlanAssembly(map, MatchBlocks(map, pointers))) {
    EXPECT_EQ(step.offset, out.bytes.size()) << "the runs follow each other";
    if (step.seed >= 0) {
      out.bytes += seeds[step.seed].bytes.substr(step.seedOffset, step.length);
    } else {
      out.bytes += wanted.substr(step.offset, step.length);
      out.fetched += step.length;
      ++out.requests;
    }
  }
  return out;
}

}  // namespace

TEST(BlockMatcher, FetchesOnlyWhatTheSeedsLack) {
  const std::string old = RandomBytes(100 * kBlock + 123, 1);
  std::string overwritten = old;
  for (std::size_t i = 40 * kBlock + 7; i < 44 * kBlock; ++i) overwritten[i] = 'x';
  const std::string inserted = old.substr(0, 5000) + "!" + old.substr(5000);
  const std::string moved = old.substr(60 * kBlock) + old.substr(0, 60 * kBlock);
  struct Row {
    const char* what;
    std::string wanted;
    std::vector<std::string> seeds;
    std::uint64_t mostFetched;
    std::size_t mostRequests;
  };
  const std::vector<Row> rows{
      {"the same file", old, {old}, 0, 0},
      {"blocks overwritten in the middle", overwritten, {old}, 5 * kBlock, 1},
      {"a byte inserted near the start: its block and the short last one", inserted, {old}, 2 * kBlock + 200, 2},
      {"halves swapped", moved, {old}, 2 * kBlock, 2},
      {"no seed", old, {}, old.size(), 1},
      {"an empty seed", old, {""}, old.size(), 1},
      {"a partial download resumed", old, {old.substr(0, 30 * kBlock + 99)}, 70 * kBlock + 123, 1},
      {"an old file and a partial download", overwritten, {old, overwritten.substr(0, 45 * kBlock)}, 0, 0},
      {"a seed smaller than a block", old, {old.substr(0, 100)}, old.size(), 1},
      {"a file of zeros", std::string(20 * kBlock, '\0'), {std::string(kBlock, '\0')}, 0, 0},
  };
  for (const Row& row : rows) {
    const Assembled out = Assemble(row.wanted, row.seeds);
    EXPECT_TRUE(out.bytes == row.wanted) << row.what;
    EXPECT_LE(out.fetched, row.mostFetched) << row.what;
    EXPECT_LE(out.requests, row.mostRequests) << row.what;
  }
}

TEST(BlockMatcher, NeighbouringFetchedRunsBecomeOneRequestAcrossASmallGap) {
  const std::string old = RandomBytes(200 * kBlock, 2);
  std::string changed = old;
  changed[10 * kBlock] ^= 1;
  changed[12 * kBlock] ^= 1;   // one whole block between: merged
  changed[100 * kBlock] ^= 1;  // far away: a request of its own
  const Assembled out = Assemble(changed, {old});
  EXPECT_TRUE(out.bytes == changed);
  EXPECT_EQ(out.requests, 2u);
  EXPECT_EQ(out.fetched, 4u * kBlock);
}

TEST(BlockMap, ReadsBackOnlyExactlyAMapOfTheStatedFile) {
  const std::string file = RandomBytes(10 * kBlock + 5, 3);
  const std::string bytes = SerializeBlockMap(MapOf(file));
  EXPECT_EQ(bytes.size(), BlockMapSize(file.size(), static_cast<std::uint32_t>(kBlock)));
  const auto read = ParseBlockMap(bytes, static_cast<std::int32_t>(file.size()));
  ASSERT_TRUE(read);
  EXPECT_EQ(read->hashes, MapOf(file).hashes);
  EXPECT_EQ(read->BlockLength(10), 5u);
  std::string otherBlock = bytes;
  otherBlock[9] = 0x20;  // 8192 + 32: not a power of two
  std::string tiny = SerializeBlockMap(MapOf(file.substr(0, 600), 512));
  for (const std::string& wrong :
       {bytes.substr(0, bytes.size() - 1), bytes + '\0', "X" + bytes.substr(1), otherBlock, std::string()})
    EXPECT_FALSE(ParseBlockMap(wrong, static_cast<std::int32_t>(file.size())));
  EXPECT_FALSE(ParseBlockMap(bytes, static_cast<std::int32_t>(file.size()) + 1)) << "another file's size";
  EXPECT_FALSE(ParseBlockMap(tiny, 600)) << "blocks below 1 KiB";
  EXPECT_EQ(SerializeBlockMap(MapOf("")).size(), 16u) << "an empty file has a map of its header alone";
}

TEST(BlockChecksum, RollingGivesTheChecksumOfEveryWindow) {
  const std::string bytes = RandomBytes(3000, 4);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  RollingChecksum rolling(1024);
  rolling.Reset(data);
  for (std::size_t at = 0; at + 1024 < bytes.size(); ++at) {
    ASSERT_EQ(rolling.Value(), WindowChecksum(data + at, 1024)) << at;
    rolling.Roll(data[at], data[at + 1024]);
  }
  EXPECT_NE(BlockHash(data, 1024), BlockHash(data + 1, 1024));
}
