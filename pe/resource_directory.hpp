// The resource tree of a PE image: type, then name, then language, then the data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pe_image.hpp"

namespace pe {

// Predefined resource types.
namespace rt {
inline constexpr std::uint16_t kCursor = 1;
inline constexpr std::uint16_t kBitmap = 2;
inline constexpr std::uint16_t kIcon = 3;
inline constexpr std::uint16_t kMenu = 4;
inline constexpr std::uint16_t kDialog = 5;
inline constexpr std::uint16_t kString = 6;
inline constexpr std::uint16_t kAccelerator = 9;
inline constexpr std::uint16_t kRcData = 10;
inline constexpr std::uint16_t kGroupCursor = 12;
inline constexpr std::uint16_t kGroupIcon = 14;
inline constexpr std::uint16_t kVersion = 16;
inline constexpr std::uint16_t kManifest = 24;
}  // namespace rt

namespace lang {
inline constexpr std::uint16_t kNeutral = 0x0000;
inline constexpr std::uint16_t kEnglishUs = 0x0409;
inline constexpr std::uint16_t kChinesePrc = 0x0804;
}  // namespace lang

// A type or a name: a 16-bit ordinal or a string.
class ResourceId {
 public:
  // Implicit, so that an ordinal such as rt::kVersion or a name such as u"PNG" is an id wherever one is asked for.
  ResourceId(std::uint16_t ordinal) : ordinal_(ordinal) {}     // cppcheck-suppress noExplicitConstructor ; see above
  ResourceId(std::u16string name) : name_(std::move(name)) {}  // cppcheck-suppress noExplicitConstructor ; see above
  ResourceId(const char16_t* name) : name_(name) {}            // cppcheck-suppress noExplicitConstructor ; see above

  bool isOrdinal() const { return ordinal_.has_value(); }
  std::uint16_t ordinal() const { return ordinal_.value_or(0); }
  const std::u16string& name() const { return name_; }

  // Exact equality. Lookups go by Matches.
  friend bool operator==(const ResourceId&, const ResourceId&) = default;
  // Ordinals equal, or names equal but for the case of ASCII letters (as FindResource matches).
  bool Matches(const ResourceId& other) const;

 private:
  std::optional<std::uint16_t> ordinal_;
  std::u16string name_;
};

struct Resource {
  ResourceId type;
  ResourceId name;
  std::uint16_t language = 0;
  std::uint32_t rva = 0;
  std::uint32_t codePage = 0;
  Bytes data;  // points into the image
};

// Every resource whose entries and data lie within the file, in directory order. A damaged
// entry is left out; a directory reached a second time (a cycle or a shared subtree) is not
// walked again, so the walk is linear in the size of the file.
std::vector<Resource> ListResources(const PeImage& image);

// The resource of exactly this type, name and language.
std::optional<Resource> LocateResource(const PeImage& image, const ResourceId& type, const ResourceId& name,
                                       std::uint16_t language);

// The language Windows picks when a program asks for a resource without naming one (as
// GetFileVersionInfo, LoadString and DialogBox do) on a system whose user and system language
// is `systemLanguage`: neutral, then that language, then its primary language, then US
// English, then whichever comes first.
std::optional<Resource> LocateResourceForSystem(const PeImage& image, const ResourceId& type, const ResourceId& name,
                                                std::uint16_t systemLanguage = lang::kChinesePrc);

}  // namespace pe
