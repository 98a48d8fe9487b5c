#include "resource_directory.hpp"

#include <set>

#include "utf16.hpp"

namespace pe {
namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::size_t kDirectoryHeaderSize = 16;
constexpr std::size_t kEntrySize = 8;

struct Walk {
  const PeImage& image;
  Bytes root;  // from the resource directory to the end of its section
  std::set<std::uint32_t> visited;
  std::vector<Resource> found;
};

std::optional<ResourceId> ReadId(const Walk& walk, std::uint32_t field) {
  if ((field & kHighBit) == 0) {
    if (field > 0xFFFF) return std::nullopt;
    return ResourceId(static_cast<std::uint16_t>(field));
  }
  ByteCursor name(walk.root, field & ~kHighBit);
  const std::uint16_t length = name.U16();
  // cppcheck-suppress redundantAssignment ; taken for a variable "name.Raw": this is a call
  const Bytes units = name.Raw(std::size_t{length} * 2);
  if (!name.ok()) return std::nullopt;
  std::u16string text;
  for (std::size_t i = 0; i < units.size(); i += 2)
    text.push_back(static_cast<char16_t>(units[i] | (units[i + 1] << 8)));
  return ResourceId(std::move(text));
}

void AddData(Walk& walk, const ResourceId& type, const ResourceId& name, std::uint16_t language, std::uint32_t offset) {
  ByteCursor entry(walk.root, offset);
  Resource resource{type, name, language, entry.U32(), 0, {}};
  const std::uint32_t size = entry.U32();
  resource.codePage = entry.U32();
  if (!entry.ok()) return;
  const auto data = walk.image.BytesAt(resource.rva, size);
  if (!data) return;
  resource.data = *data;
  walk.found.push_back(std::move(resource));
}

// Level 0 holds types, 1 names, 2 languages whose entries point at data.
void WalkDirectory(Walk& walk, std::uint32_t offset, int level, const ResourceId& type, const ResourceId& name) {
  if (!walk.visited.insert(offset).second) return;
  ByteCursor header(walk.root, offset);
  header.Skip(12);
  const std::size_t count = std::size_t{header.U16()} + header.U16();
  if (!header.ok()) return;
  for (std::size_t i = 0; i < count; ++i) {
    ByteCursor entry(walk.root, offset + kDirectoryHeaderSize + i * kEntrySize);
    const std::uint32_t idField = entry.U32();
    const std::uint32_t target = entry.U32();
    if (!entry.ok()) return;
    const auto id = ReadId(walk, idField);
    if (!id) continue;
    const bool isDirectory = (target & kHighBit) != 0;
    if (level < 2 && isDirectory) {
      WalkDirectory(walk, target & ~kHighBit, level + 1, level == 0 ? *id : type, level == 1 ? *id : name);
    } else if (level == 2 && !isDirectory && id->isOrdinal()) {
      AddData(walk, type, name, id->ordinal(), target);
    }
  }
}

}  // namespace

bool ResourceId::Matches(const ResourceId& other) const {
  if (isOrdinal() || other.isOrdinal()) return ordinal_ == other.ordinal_;
  return EqualsIgnoringCase(name_, other.name_);
}

std::vector<Resource> ListResources(const PeImage& image) {
  const DataDirectory directory = image.directory(directory::kResource);
  if (directory.rva == 0) return {};
  const auto root = image.BytesFrom(directory.rva);
  if (!root) return {};
  Walk walk{image, *root, {}, {}};
  WalkDirectory(walk, 0, 0, ResourceId(std::uint16_t{0}), ResourceId(std::uint16_t{0}));
  return std::move(walk.found);
}

std::optional<Resource> LocateResource(const PeImage& image, const ResourceId& type, const ResourceId& name,
                                       std::uint16_t language) {
  for (Resource& resource : ListResources(image))
    if (resource.language == language && resource.type.Matches(type) && resource.name.Matches(name))
      return std::move(resource);  // cppcheck-suppress returnStdMoveLocal ; a reference: without it, a copy
  return std::nullopt;
}

std::optional<Resource> LocateResourceForSystem(const PeImage& image, const ResourceId& type, const ResourceId& name,
                                                std::uint16_t systemLanguage) {
  std::vector<Resource> candidates;
  for (Resource& resource : ListResources(image))
    if (resource.type.Matches(type) && resource.name.Matches(name)) candidates.push_back(std::move(resource));
  const std::uint16_t primary = systemLanguage & 0x3FF;
  for (const std::uint16_t wanted : {lang::kNeutral, systemLanguage, primary, lang::kEnglishUs})
    for (Resource& resource : candidates)
      // cppcheck-suppress returnStdMoveLocal ; a reference into the candidates: without it, a copy
      if (resource.language == wanted) return std::move(resource);
  if (candidates.empty()) return std::nullopt;
  return std::move(candidates.front());
}

}  // namespace pe
