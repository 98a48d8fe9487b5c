#include "blocks/block_checksum.hpp"

namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ull;
constexpr std::uint64_t kPrime4 = 0x85EBCA77C2B2AE63ull;
constexpr std::uint64_t kPrime5 = 0x27D4EB2F165667C5ull;

std::uint64_t Rotl(std::uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

// Little-endian whatever the machine, so that the publisher's maps read the same everywhere.
std::uint64_t Load64(const unsigned char* p) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}
std::uint32_t Load32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t Round(std::uint64_t acc, std::uint64_t input) { return Rotl(acc + input * kPrime2, 31) * kPrime1; }
std::uint64_t Merge(std::uint64_t acc, std::uint64_t lane) { return (acc ^ Round(0, lane)) * kPrime1 + kPrime4; }

std::uint64_t Avalanche(std::uint64_t h) {
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  h *= kPrime3;
  return h ^ (h >> 32);
}

}  // namespace

RollingChecksum::RollingChecksum(std::size_t window) : window_(window) {
  for (std::size_t i = 1; i < window; ++i) outFactor_ *= kMultiplier;
}

void RollingChecksum::Reset(const unsigned char* data) {
  sum_ = 0;
  for (std::size_t i = 0; i < window_; ++i) sum_ = sum_ * kMultiplier + data[i];
}

std::uint32_t WindowChecksum(const unsigned char* data, std::size_t size) {
  RollingChecksum checksum(size);
  checksum.Reset(data);
  return checksum.Value();
}

std::uint64_t BlockHash(const unsigned char* data, std::size_t size) {
  const unsigned char* p = data;
  const unsigned char* const end = data + size;
  std::uint64_t h;
  if (size >= 32) {
    std::uint64_t v1 = kPrime1 + kPrime2, v2 = kPrime2, v3 = 0, v4 = 0 - kPrime1;
    for (; end - p >= 32; p += 32) {
      v1 = Round(v1, Load64(p));
      v2 = Round(v2, Load64(p + 8));
      v3 = Round(v3, Load64(p + 16));
      v4 = Round(v4, Load64(p + 24));
    }
    h = Rotl(v1, 1) + Rotl(v2, 7) + Rotl(v3, 12) + Rotl(v4, 18);
    h = Merge(Merge(Merge(Merge(h, v1), v2), v3), v4);
  } else {
    h = kPrime5;
  }
  h += size;
  for (; end - p >= 8; p += 8) h = Rotl(h ^ Round(0, Load64(p)), 27) * kPrime1 + kPrime4;
  if (end - p >= 4) {
    h = Rotl(h ^ (Load32(p) * kPrime1), 23) * kPrime2 + kPrime3;
    p += 4;
  }
  for (; p < end; ++p) h = Rotl(h ^ (*p * kPrime5), 11) * kPrime1;
  return Avalanche(h);
}
