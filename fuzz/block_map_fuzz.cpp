// The block map reader and the matcher, whatever the map and the seed: a map read back is the
// bytes it was read from, every block the matcher finds in the seed is there with its hash, the
// plan covers the new file once in order, and the file assembled from the seed and the served
// bytes is the served file whenever the map is the served file's. With any other map the final
// SHA-256 decides, which the update falls back on.
//
// Input: a mode byte, the served file's length (2 bytes), the served file, then edits of 4 bytes
// (kind, offset of 2 bytes, value) that make the seed from the served file. Mode bit 0: one byte
// of the map is changed (at the first edit's offset).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "blocks/block_checksum.hpp"
#include "blocks/block_matcher.hpp"

namespace {

constexpr std::uint32_t kBlock = 1024;

[[noreturn]] void Fail(const char* what) {
  (void)std::fprintf(stderr, "oracle failed: %s\n", what);
  std::abort();
}

struct Seed : SeedFile {
  explicit Seed(std::string b) : bytes(std::move(b)) {}
  std::uint64_t Size() override { return bytes.size(); }
  std::size_t Read(std::uint64_t offset, unsigned char* data, std::size_t size) override {
    if (offset >= bytes.size()) return 0;
    const std::size_t n = std::min<std::size_t>(size, bytes.size() - offset);
    std::memcpy(data, bytes.data() + offset, n);
    return n;
  }
  std::string bytes;
};

std::string ApplyEdits(std::string seed, const std::uint8_t* edits, std::size_t size) {
  for (std::size_t i = 0; i + 4 <= size; i += 4) {
    const std::size_t at = seed.empty() ? 0 : (edits[i + 1] | edits[i + 2] << 8) % (seed.size() + 1);
    const auto value = static_cast<char>(edits[i + 3]);
    switch (edits[i] % 4) {
      case 0: seed.insert(at, 1, value); break;
      case 1: seed.erase(at, static_cast<unsigned char>(value)); break;
      case 2:
        if (at < seed.size()) seed[at] = value;
        break;
      default: seed = seed.substr(at) + seed.substr(0, at); break;
    }
  }
  return seed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const bool changedMap = data[0] & 1;
  const std::size_t servedSize = std::min<std::size_t>(data[1] | data[2] << 8, size - 3);
  const std::string served(reinterpret_cast<const char*>(data + 3), servedSize);
  const std::uint8_t* edits = data + 3 + servedSize;
  const std::size_t editSize = size - 3 - servedSize;
  Seed seed(ApplyEdits(served, edits, editSize));

  BlockMapBuilder builder(kBlock);
  builder.Add(served.data(), served.size());
  std::string mapBytes = SerializeBlockMap(*builder.Finish());
  if (changedMap && editSize >= 4) {
    char& changed = mapBytes[(edits[1] | edits[2] << 8) % mapBytes.size()];
    changed = static_cast<char>(changed ^ (edits[3] | 1));
  }
  const auto fileSize = static_cast<std::int32_t>(served.size());
  const auto map = ParseBlockMap(mapBytes, fileSize);
  if (!map) {
    if (!changedMap) Fail("the served file's own map is not read");
    return 0;  // a map that cannot be read: the whole download
  }
  if (SerializeBlockMap(*map) != mapBytes) Fail("a map read back is not the bytes it was read from");

  const auto origins = MatchBlocks(*map, {&seed});
  for (std::size_t block = 0; block < origins.size(); ++block) {
    if (origins[block].seed < 0) continue;
    const std::uint32_t length = map->BlockLength(block);
    if (origins[block].offset + length > seed.bytes.size()) Fail("a block found beyond the seed's end");
    const auto* at = reinterpret_cast<const unsigned char*>(seed.bytes.data()) + origins[block].offset;
    if (BlockHash(at, length) != map->hashes[block]) Fail("a block found where its hash is not");
  }

  std::string assembled;
  for (const AssemblyStep& step : PlanAssembly(*map, origins)) {
    if (step.offset != assembled.size() || step.length == 0) Fail("the plan does not cover the file once in order");
    if (step.seed >= 0) {
      if (step.seedOffset + step.length > seed.bytes.size()) Fail("a copy beyond the seed's end");
      assembled += seed.bytes.substr(step.seedOffset, step.length);
    } else {
      assembled += served.substr(step.offset, step.length);
    }
  }
  if (assembled.size() != served.size()) Fail("the plan does not end at the file's end");
  // Equal blocks by a 64-bit hash: only a collision could make these differ, and the final
  // SHA-256 would then send the update to its whole download.
  if (!changedMap && assembled != served) Fail("the file assembled with its own map is not the served file");
  return 0;
}
