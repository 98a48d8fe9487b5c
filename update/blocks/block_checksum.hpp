// The two checksums of a block map. Neither is cryptographic: the whole file's SHA-256 decides in
// the end, so a false match only costs a whole download.
#pragma once

#include <cstddef>
#include <cstdint>

// A polynomial checksum over a window of bytes that moves one byte at a time in constant time.
class RollingChecksum {
 public:
  explicit RollingChecksum(std::size_t window);

  // Starts over with the window at `data`.
  void Reset(const unsigned char* data);
  // Moves the window one byte on: `out` leaves it at the front, `in` joins it at the back.
  void Roll(unsigned char out, unsigned char in) { sum_ = (sum_ - out * outFactor_) * kMultiplier + in; }
  // The 32 bits a map stores: the sum's upper half, which every byte of the window reaches
  // through the carries. Asked at every byte position of a seed, so it stays this cheap.
  std::uint32_t Value() const { return static_cast<std::uint32_t>(sum_ >> 32); }

 private:
  static constexpr std::uint64_t kMultiplier = 0x100000001b3ull;
  std::size_t window_;
  std::uint64_t outFactor_ = 1;  // kMultiplier to the power window - 1
  std::uint64_t sum_ = 0;
};

// The checksum of one whole window, as RollingChecksum::Value gives it.
std::uint32_t WindowChecksum(const unsigned char* data, std::size_t size);

// A 64-bit hash of a block: four lanes of multiply-rotate rounds over 8-byte words.
std::uint64_t BlockHash(const unsigned char* data, std::size_t size);
