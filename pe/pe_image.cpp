#include "pe_image.hpp"

#include <algorithm>
#include <fstream>

namespace pe {
namespace {

constexpr std::uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;

}  // namespace

std::optional<PeImage> PeImage::Parse(std::vector<std::uint8_t> bytes) {
  PeImage image;
  image.bytes_ = std::move(bytes);
  const Bytes all = image.bytes_;

  ByteCursor dos(all);
  if (dos.U16() != kDosMagic || !dos.ok()) return std::nullopt;
  ByteCursor lfanew(all, 0x3C);
  const std::size_t ntOffset = lfanew.U32();
  if (!lfanew.ok()) return std::nullopt;

  ByteCursor nt(all, ntOffset);
  if (nt.U32() != kPeSignature) return std::nullopt;
  image.machine_ = nt.U16();
  const std::uint16_t sectionCount = nt.U16();
  nt.Skip(12);  // time stamp, symbol table
  const std::uint16_t optionalSize = nt.U16();
  image.characteristics_ = nt.U16();
  if (!nt.ok()) return std::nullopt;

  const std::size_t optionalOffset = ntOffset + 4 + kFileHeaderSize;
  const auto optionalBytes = Slice(all, optionalOffset, optionalSize);
  if (!optionalBytes) return std::nullopt;
  ByteCursor optional(*optionalBytes);
  const std::uint16_t magic = optional.U16();
  if (magic == kPe32Magic) {
    image.format_ = Format::Pe32;
    optional.Skip(26);
    image.imageBase_ = optional.U32();
  } else if (magic == kPe32PlusMagic) {
    image.format_ = Format::Pe32Plus;
    optional.Skip(22);
    image.imageBase_ = optional.U64();
  } else {
    return std::nullopt;
  }
  optional.Skip(28);  // alignments, versions, size of image
  image.sizeOfHeaders_ = optional.U32();
  optional.Skip(4);  // checksum
  image.subsystem_ = optional.U16();
  optional.Skip(image.format_ == Format::Pe32 ? 22 : 38);  // DLL characteristics, stack, heap, loader flags
  const std::uint32_t declaredDirectories = optional.U32();
  if (!optional.ok()) return std::nullopt;
  image.directoryCount_ = std::min<std::size_t>({declaredDirectories, directory::kCount, optional.remaining() / 8});
  for (std::size_t i = 0; i < image.directoryCount_; ++i) {
    image.directories_[i].rva = optional.U32();
    image.directories_[i].size = optional.U32();
  }

  ByteCursor table(all, optionalOffset + optionalSize);
  for (std::uint16_t i = 0; i < sectionCount; ++i) {
    const Bytes rawName = table.Raw(8);
    Section section;
    section.name.assign(rawName.begin(), std::find(rawName.begin(), rawName.end(), std::uint8_t{0}));
    section.virtualSize = table.U32();
    section.virtualAddress = table.U32();
    section.rawSize = table.U32();
    section.rawOffset = table.U32();
    table.Skip(kSectionHeaderSize - 28);  // relocations, line numbers
    section.characteristics = table.U32();
    if (!table.ok()) return std::nullopt;
    image.sections_.push_back(std::move(section));
  }
  return image;
}

std::optional<PeImage> PeImage::Load(const std::filesystem::path& file) {
  // Regular files only (a directory or a device has no size); and nothing past 4 GiB, which
  // no file offset in the headers can reach.
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error || size > 0xFFFFFFFFu) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  std::vector<std::uint8_t> content(static_cast<std::size_t>(size));
  if (!in.read(reinterpret_cast<char*>(content.data()), static_cast<std::streamsize>(size))) return std::nullopt;
  return Parse(std::move(content));
}

DataDirectory PeImage::directory(std::size_t index) const {
  return index < directoryCount_ ? directories_[index] : DataDirectory{};
}

std::optional<std::pair<std::size_t, std::size_t>> PeImage::Locate(std::uint32_t rva) const {
  // 64-bit sums: offset plus size may pass 4 GiB in a damaged header.
  const std::uint64_t fileSize = bytes_.size();
  for (const Section& section : sections_) {
    if (rva < section.virtualAddress || rva - section.virtualAddress >= section.rawSize) continue;
    const std::uint64_t offset = std::uint64_t{section.rawOffset} + (rva - section.virtualAddress);
    const std::uint64_t end = std::min(std::uint64_t{section.rawOffset} + section.rawSize, fileSize);
    if (offset < end) return std::pair<std::size_t, std::size_t>(offset, end);
  }
  const std::uint64_t headersEnd = std::min<std::uint64_t>(sizeOfHeaders_, fileSize);
  if (rva < headersEnd) return std::pair<std::size_t, std::size_t>(rva, headersEnd);
  return std::nullopt;
}

std::optional<std::size_t> PeImage::RvaToOffset(std::uint32_t rva) const {
  const auto range = Locate(rva);
  if (!range) return std::nullopt;
  return range->first;
}

std::optional<Bytes> PeImage::BytesAt(std::uint32_t rva, std::uint32_t size) const {
  const auto range = Locate(rva);
  if (!range || size > range->second - range->first) return std::nullopt;
  return Bytes(bytes_).subspan(range->first, size);
}

std::optional<Bytes> PeImage::BytesFrom(std::uint32_t rva) const {
  const auto range = Locate(rva);
  if (!range) return std::nullopt;
  return Bytes(bytes_).subspan(range->first, range->second - range->first);
}

}  // namespace pe
