#include "version_info.hpp"

#include <algorithm>

#include "utf16.hpp"

namespace pe {
namespace {

constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;
constexpr std::size_t kFixedSize = 52;
constexpr std::size_t kNodeHeaderSize = 6;
// A real block nests four deep (root, StringFileInfo, table, string); deeper nodes are kept
// as values, which bounds the recursion whatever the data claims.
constexpr int kMaxDepth = 8;

std::size_t AlignUp(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

struct ParsedNode {
  VersionNode node;
  std::size_t length = 0;
};

// Offsets count from the start of the block, which is where the 4-byte alignment is measured.
std::optional<ParsedNode> ParseNode(Bytes block, std::size_t start, std::size_t limit, int depth, bool clampToLimit) {
  ByteCursor header(block.first(limit), start);
  std::size_t length = header.U16();
  const std::uint16_t valueLength = header.U16();
  ParsedNode parsed;
  parsed.node.type = header.U16();
  if (!header.ok() || length < kNodeHeaderSize) return std::nullopt;
  if (length > limit - start) {
    if (!clampToLimit) return std::nullopt;
    length = limit - start;
  }
  parsed.length = length;
  const std::size_t end = start + length;

  ByteCursor cursor(block.first(end), header.position());
  parsed.node.key = cursor.Utf16z();
  cursor.Align(4);
  if (!cursor.ok()) return std::nullopt;
  const std::size_t valueStart = cursor.position();
  const std::size_t declared = std::size_t{valueLength} * (parsed.node.type != 0 ? 2 : 1);
  const std::size_t childrenStart = std::min(AlignUp(valueStart + declared), end);

  std::size_t position = childrenStart;
  while (depth < kMaxDepth && position + kNodeHeaderSize <= end) {
    auto child = ParseNode(block, position, end, depth + 1, false);
    if (!child) break;
    parsed.node.children.push_back(std::move(child->node));
    position = AlignUp(position + child->length);
  }
  const auto bytes = [&](std::size_t from, std::size_t to) { return block.subspan(from, std::max(from, to) - from); };
  const Bytes value = bytes(valueStart, std::min(valueStart + declared, end));
  parsed.node.value.assign(value.begin(), value.end());
  ByteCursor text(bytes(valueStart, parsed.node.children.empty() ? end : childrenStart));
  for (std::uint16_t unit = text.U16(); text.ok() && unit != 0; unit = text.U16())
    parsed.node.text.push_back(static_cast<char16_t>(unit));
  return parsed;
}

VersionNumber Split(std::uint32_t high, std::uint32_t low) {
  return {static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
          static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)};
}

}  // namespace

const VersionNode* VersionNode::Child(std::u16string_view childKey) const {
  for (const VersionNode& child : children)
    if (EqualsIgnoringCase(child.key, childKey)) return &child;
  return nullptr;
}

std::optional<VersionInfo> VersionInfo::Parse(Bytes data) {
  auto parsed = ParseNode(data, 0, data.size(), 0, true);
  if (!parsed) return std::nullopt;
  VersionInfo info;
  info.root_ = std::move(parsed->node);
  return info;
}

std::optional<FixedFileInfo> VersionInfo::fixed() const {
  ByteCursor cursor(root_.value);
  if (root_.value.size() < kFixedSize || cursor.U32() != kFixedSignature) return std::nullopt;
  FixedFileInfo info;
  info.structVersion = cursor.U32();
  const std::uint32_t fileHigh = cursor.U32();
  info.fileVersion = Split(fileHigh, cursor.U32());
  const std::uint32_t productHigh = cursor.U32();
  info.productVersion = Split(productHigh, cursor.U32());
  info.fileFlagsMask = cursor.U32();
  info.fileFlags = cursor.U32();
  info.fileOs = cursor.U32();
  info.fileType = cursor.U32();
  info.fileSubtype = cursor.U32();
  return info;
}

std::vector<StringTable> VersionInfo::stringTables() const {
  std::vector<StringTable> tables;
  const VersionNode* block = root_.Child(u"StringFileInfo");
  if (block == nullptr) return tables;
  for (const VersionNode& table : block->children) {
    StringTable& added = tables.emplace_back(StringTable{table.key, {}});
    for (const VersionNode& string : table.children) added.strings.push_back({string.key, string.text});
  }
  return tables;
}

std::vector<Translation> VersionInfo::translations() const {
  std::vector<Translation> found;
  const VersionNode* var = root_.Child(u"VarFileInfo");
  const VersionNode* translation = var != nullptr ? var->Child(u"Translation") : nullptr;
  if (translation == nullptr) return found;
  ByteCursor cursor(translation->value);
  while (cursor.remaining() >= 4) {
    const std::uint16_t language = cursor.U16();
    found.push_back({language, cursor.U16()});
  }
  return found;
}

const VersionNode* VersionInfo::Query(std::u16string_view path) const {
  const VersionNode* node = &root_;
  while (node != nullptr && !path.empty()) {
    const std::size_t slash = path.find(u'\\');
    const std::u16string_view part = path.substr(0, slash);
    if (!part.empty()) node = node->Child(part);
    path = slash == std::u16string_view::npos ? std::u16string_view() : path.substr(slash + 1);
  }
  return node;
}

std::optional<std::u16string> VersionInfo::FindString(std::u16string_view table, std::u16string_view key) const {
  const VersionNode* block = root_.Child(u"StringFileInfo");
  const VersionNode* strings = block != nullptr ? block->Child(table) : nullptr;
  const VersionNode* string = strings != nullptr ? strings->Child(key) : nullptr;
  if (string == nullptr) return std::nullopt;
  return string->text;
}

}  // namespace pe
