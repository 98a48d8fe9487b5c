// A PE32 or PE32+ file held in memory: its headers, its section table and the mapping from
// relative virtual addresses (RVAs) to the bytes of the file. Nothing is trusted: every
// offset and length is checked against the file, and what does not fit is absent.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "byte_cursor.hpp"

namespace pe {

enum class Format { Pe32, Pe32Plus };

namespace machine {
inline constexpr std::uint16_t kI386 = 0x014C;
inline constexpr std::uint16_t kAmd64 = 0x8664;
inline constexpr std::uint16_t kArmNt = 0x01C4;
inline constexpr std::uint16_t kArm64 = 0xAA64;
}  // namespace machine

namespace subsystem {
inline constexpr std::uint16_t kNative = 1;
inline constexpr std::uint16_t kWindowsGui = 2;
inline constexpr std::uint16_t kWindowsCui = 3;
}  // namespace subsystem

// Indexes into the optional header's data directories.
namespace directory {
inline constexpr std::size_t kExport = 0;
inline constexpr std::size_t kImport = 1;
inline constexpr std::size_t kResource = 2;
inline constexpr std::size_t kCount = 16;
}  // namespace directory

struct Section {
  std::string name;  // up to 8 bytes, without padding zeros
  std::uint32_t virtualAddress = 0;
  std::uint32_t virtualSize = 0;
  std::uint32_t rawOffset = 0;
  std::uint32_t rawSize = 0;
  std::uint32_t characteristics = 0;
};

struct DataDirectory {
  std::uint32_t rva = 0;
  std::uint32_t size = 0;
};

// Views returned by an image point into its bytes: they live as long as the image.
class PeImage {
 public:
  // An image when the bytes hold a DOS header, the "PE" signature, a file header, a PE32 or
  // PE32+ optional header and a section table, all within the bytes.
  static std::optional<PeImage> Parse(std::vector<std::uint8_t> bytes);
  static std::optional<PeImage> Load(const std::filesystem::path& file);

  PeImage(PeImage&&) = default;
  PeImage& operator=(PeImage&&) = default;
  PeImage(const PeImage&) = delete;
  PeImage& operator=(const PeImage&) = delete;

  Bytes bytes() const { return bytes_; }
  Format format() const { return format_; }
  std::uint16_t machine() const { return machine_; }
  std::uint16_t characteristics() const { return characteristics_; }
  std::uint16_t subsystem() const { return subsystem_; }
  std::uint64_t imageBase() const { return imageBase_; }
  const std::vector<Section>& sections() const { return sections_; }
  // A zero directory when the header has fewer entries than `index + 1`.
  DataDirectory directory(std::size_t index) const;

  // The file offset that holds the byte at `rva`: in a section's file data, or in the headers.
  std::optional<std::size_t> RvaToOffset(std::uint32_t rva) const;
  // The `size` bytes at `rva`, when all of them are in the file data of one section (or the headers).
  std::optional<Bytes> BytesAt(std::uint32_t rva, std::uint32_t size) const;
  // The bytes from `rva` to the end of the file data of its section, for records that end
  // with a terminator or whose size comes from within.
  std::optional<Bytes> BytesFrom(std::uint32_t rva) const;

 private:
  PeImage() = default;
  // The file range [offset, end) that holds `rva`.
  std::optional<std::pair<std::size_t, std::size_t>> Locate(std::uint32_t rva) const;

  std::vector<std::uint8_t> bytes_;
  Format format_ = Format::Pe32;
  std::uint16_t machine_ = 0;
  std::uint16_t characteristics_ = 0;
  std::uint16_t subsystem_ = 0;
  std::uint64_t imageBase_ = 0;
  std::uint32_t sizeOfHeaders_ = 0;
  std::array<DataDirectory, directory::kCount> directories_{};
  std::size_t directoryCount_ = 0;
  std::vector<Section> sections_;
};

}  // namespace pe
