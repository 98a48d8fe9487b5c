// The version block (RT_VERSION): VS_VERSIONINFO with its fixed part, its string tables
// (StringFileInfo) and its translations (VarFileInfo).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "byte_cursor.hpp"

namespace pe {

// One node of the block: a key, a value and child nodes, each aligned to 4 bytes.
struct VersionNode {
  std::u16string key;
  std::uint16_t type = 0;           // non-zero: the value is text
  std::vector<std::uint8_t> value;  // as long as the node says (characters count 2 bytes)
  // The value read as UTF-16 up to its first zero, as VerQueryValue hands out strings; in a
  // node without children it runs on to the node's end even when the stored length says less.
  std::u16string text;
  std::vector<VersionNode> children;

  // The first child whose key matches, ignoring the case of ASCII letters.
  const VersionNode* Child(std::u16string_view childKey) const;
};

// Four 16-bit parts, most significant first: {1, 0, 0, 3} is 1.0.0.3.
using VersionNumber = std::array<std::uint16_t, 4>;

struct FixedFileInfo {
  std::uint32_t structVersion = 0;
  VersionNumber fileVersion{};
  VersionNumber productVersion{};
  std::uint32_t fileFlagsMask = 0;
  std::uint32_t fileFlags = 0;
  std::uint32_t fileOs = 0;
  std::uint32_t fileType = 0;
  std::uint32_t fileSubtype = 0;
};

struct VersionString {
  std::u16string key;
  std::u16string value;
};

struct StringTable {
  std::u16string name;  // language and code page in hex, e.g. "080404b0"
  std::vector<VersionString> strings;
};

struct Translation {
  std::uint16_t language = 0;
  std::uint16_t codePage = 0;
};

class VersionInfo {
 public:
  // A block when its root node lies within the data (a root that claims more is cut to it).
  // Nodes that do not fit their parent end its list of children.
  static std::optional<VersionInfo> Parse(Bytes data);

  const VersionNode& root() const { return root_; }
  // Missing unless the root's value is a VS_FIXEDFILEINFO with its signature.
  std::optional<FixedFileInfo> fixed() const;
  // The tables of the first StringFileInfo block, in file order.
  std::vector<StringTable> stringTables() const;
  // VarFileInfo\Translation.
  std::vector<Translation> translations() const;

  // The node at a VerQueryValue path such as "\StringFileInfo\080404b0\FileVersion": each part
  // names the first child that matches it without regard to the case of ASCII letters.
  const VersionNode* Query(std::u16string_view path) const;
  // The text at \StringFileInfo\<table>\<key>, as VerQueryValueW returns it.
  std::optional<std::u16string> FindString(std::u16string_view table, std::u16string_view key) const;

 private:
  VersionNode root_;
};

}  // namespace pe
