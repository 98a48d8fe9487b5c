// Damaged input: every entry point of the reader runs over truncated and corrupted copies
// of a real image. Each copy is a buffer of its own exact size, so under AddressSanitizer a
// read past the end of the data is a failure, not a silent read of the original's bytes.
#include <gtest/gtest.h>

#include <random>

#include "exercise_reader.hpp"

namespace {

std::vector<std::uint8_t> ReadFixture(int bits) {
  const auto image = pe::PeImage::Load(std::string(FIXTURE_DIR) + "/fixture" + std::to_string(bits) + ".exe");
  if (!image) throw std::runtime_error("fixture missing");
  return {image->bytes().begin(), image->bytes().end()};
}

using pe::ExerciseEverything;

}  // namespace

TEST(Robustness, TruncatedAtEveryOffsetStaysWithinTheData) {
  const std::vector<std::uint8_t> whole = ReadFixture(32);
  const std::size_t complete = ExerciseEverything(whole);
  EXPECT_GT(complete, 20u);
  for (std::size_t size = 0; size < whole.size(); ++size) {
    const std::size_t values = ExerciseEverything({whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size)});
    ASSERT_LE(values, complete) << size;
  }
}

// A template or an icon group cut short is no template or group at all.
TEST(Robustness, EveryPrefixOfEachResourceParsesOrFails) {
  for (const int bits : {32, 64}) {
    const auto image = pe::PeImage::Parse(ReadFixture(bits));
    ASSERT_TRUE(image);
    for (const pe::Resource& resource : pe::ListResources(*image)) {
      if (!resource.type.isOrdinal()) continue;
      for (std::size_t size = 0; size <= resource.data.size(); ++size) {
        const std::vector<std::uint8_t> prefix(resource.data.begin(),
                                               resource.data.begin() + static_cast<std::ptrdiff_t>(size));
        pe::ParseResourceData(resource.type.ordinal(), prefix);
        const bool shortened = size < resource.data.size();
        EXPECT_FALSE(shortened && resource.type == pe::ResourceId(pe::rt::kDialog) && pe::ParseDialogTemplate(prefix));
        EXPECT_FALSE(shortened && resource.type == pe::ResourceId(pe::rt::kGroupIcon) && pe::ParseIconGroup(prefix));
      }
    }
  }
}

TEST(Robustness, CorruptedBytesInHeadersAndResources) {
  // NOLINTNEXTLINE(cert-msc51-cpp): a fixed seed makes the same copies every run
  std::mt19937 random(20240607);
  for (const int bits : {32, 64}) {
    const std::vector<std::uint8_t> whole = ReadFixture(bits);
    const auto image = pe::PeImage::Parse(whole);
    const pe::DataDirectory resources = image->directory(pe::directory::kResource);
    const std::size_t resourceStart = *image->RvaToOffset(resources.rva);
    for (int copy = 0; copy < 1500; ++copy) {
      std::vector<std::uint8_t> bytes = whole;
      const int flips = 1 + static_cast<int>(random() % 4);
      for (int i = 0; i < flips; ++i) {
        // Half the flips land in the headers, half in the resource directory and data.
        const std::size_t at = random() % 2 == 0 ? random() % 0x200 : resourceStart + random() % resources.size;
        bytes[at] = static_cast<std::uint8_t>(random());
      }
      ExerciseEverything(std::move(bytes));
    }
  }
}

TEST(Robustness, ResourceDirectoryCyclesEnd) {
  std::vector<std::uint8_t> bytes = ReadFixture(32);
  const auto image = pe::PeImage::Parse(bytes);
  const std::size_t root = *image->RvaToOffset(image->directory(pe::directory::kResource).rva);
  const std::size_t complete = pe::ListResources(*image).size();
  // Point the first type entry back at the root directory, and the second at the first's subtree.
  const auto write32 = [&bytes](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  const std::size_t firstEntry = root + 16;
  const std::uint32_t firstSubtree = bytes[firstEntry + 4] | bytes[firstEntry + 5] << 8 | bytes[firstEntry + 6] << 16 |
                                     static_cast<std::uint32_t>(bytes[firstEntry + 7]) << 24;
  write32(firstEntry + 4, 0x80000000u);
  write32(firstEntry + 12, firstSubtree);
  const auto looped = pe::PeImage::Parse(bytes);
  const auto found = pe::ListResources(*looped);
  EXPECT_LT(found.size(), complete);
  EXPECT_GT(found.size(), 0u);
}
