#include "update_manifest.hpp"

std::optional<ManifestValue> ReadManifestValue(std::string_view manifest, std::string_view key, text::Pos start) {
  const text::Pos keyAt = text::FindAtBoundary(manifest, key, start);
  if (keyAt == text::kNotFound) return std::nullopt;
  const text::Pos valueAt = keyAt + static_cast<text::Pos>(key.size());
  const text::Pos end = text::FindAtBoundary(manifest, "\r\n", valueAt);
  if (end == text::kNotFound) return std::nullopt;
  return ManifestValue{
      text::Trim(manifest.substr(static_cast<std::size_t>(valueAt), static_cast<std::size_t>(end - valueAt)), " "), end,
      keyAt};
}

ManifestReader::ManifestReader(std::string_view manifest) : text_(text::UntilNul(manifest)) {}

std::optional<ManifestValue> ManifestReader::Next(std::string_view key, text::Pos& position) {
  auto found = ReadManifestValue(text_, key, position);
  if (found) {
    lastKeyAt_ = found->keyAt;
    position = found->end;
  } else {
    missingKey_ = key;
  }
  return found;
}

bool ManifestReader::ReadHeader(UpdateManifest& manifest) {
  text::Pos position = 0;
  auto version = Next("update_version=", position);
  if (!version) return false;
  auto filesize = Next("update_filesize=", position);
  if (!filesize) return false;
  auto url = Next("update_url=", position);
  if (!url) return false;
  manifest.update_version = std::move(version->value);
  manifest.update_filesize = std::move(filesize->value);
  manifest.update_url = std::move(url->value);
  urlEnd_ = position;
  return true;
}

ManifestReader::ExpiryLine ManifestReader::ReadExpiry(UtcSeconds& expires) const {
  constexpr std::string_view kKey = "update_expires=";
  if (urlEnd_ == text::kNotFound) return ExpiryLine::kAbsent;
  const auto lineAt = static_cast<std::size_t>(urlEnd_) + 2;
  if (lineAt > text_.size() || text_.compare(lineAt, kKey.size(), kKey) != 0) return ExpiryLine::kAbsent;
  const auto value = ReadManifestValue(text_, kKey, static_cast<text::Pos>(lineAt));
  const auto parsed = value ? ReadUtcTime(value->value) : std::nullopt;
  if (!parsed) return ExpiryLine::kMalformed;
  expires = *parsed;
  return ExpiryLine::kPresent;
}

bool ManifestReader::ReadFileCount(UpdateManifest& manifest) {
  if (urlEnd_ == text::kNotFound) return false;
  text::Pos position = urlEnd_;
  auto size = Next("update_size=", position);
  if (!size) return false;
  manifest.update_size = std::move(size->value);
  sizeEnd_ = position;
  return true;
}

bool ManifestReader::ReadIndexCount(UpdateManifest& manifest) {
  text::Pos position = 0;
  auto size = Next("update_size=", position);
  if (!size) return false;
  manifest.update_size = std::move(size->value);
  sizeEnd_ = position;
  return true;
}

bool ManifestReader::ReadEntry(int index, ManifestFileEntry& entry) {
  text::Pos position = index == 0 ? 0 : entryEnd_;
  auto name = Next(text::Format("update_name%d=", index), position);
  if (!name) return false;
  const text::Pos nameAt = lastKeyAt_;
  auto from = Next(text::Format("update_from%d=", index), position);
  if (!from) return false;
  auto to = Next(text::Format("update_to%d=", index), position);
  if (!to) return false;
  entry = ManifestFileEntry{std::move(name->value), std::move(from->value), std::move(to->value)};
  entryEnd_ = position;
  entryLineEnd_ = position;
  lastKeyAt_ = nameAt;
  return true;
}

ManifestReader::Line ManifestReader::LineAt(text::Pos lineAt, std::string_view key, std::string& value,
                                            text::Pos& end) const {
  const auto at = static_cast<std::size_t>(lineAt);
  if (lineAt < 0 || at > text_.size() || text_.compare(at, key.size(), key) != 0) return Line::kAbsent;
  auto found = ReadManifestValue(text_, key, lineAt);
  if (!found) return Line::kMalformed;
  value = std::move(found->value);
  end = found->end;
  return Line::kPresent;
}

ManifestReader::Line ManifestReader::ReadLineAfterEntry(std::string_view key, std::string& value) {
  if (entryLineEnd_ == text::kNotFound) return Line::kAbsent;
  text::Pos end = 0;
  const Line line = LineAt(entryLineEnd_ + 2, key, value, end);
  if (line == Line::kPresent) entryLineEnd_ = end;
  return line;
}

ManifestReader::HashLine ManifestReader::ReadEntryHash(int index, FileDigest& digest) {
  std::string value;
  const Line line = ReadLineAfterEntry(text::Format("update_hash%d=", index), value);
  if (line != Line::kPresent) return line;
  const auto parsed = ParseHashValue(value);
  if (!parsed) return Line::kMalformed;
  digest = *parsed;
  return Line::kPresent;
}

ManifestReader::Line ManifestReader::ReadIndexLine(HelperFile& index) const {
  std::string value;
  text::Pos end = 0;
  const Line line = sizeEnd_ == text::kNotFound ? Line::kAbsent : LineAt(sizeEnd_ + 2, "update_index=", value, end);
  if (line != Line::kPresent) return line;
  auto parsed = ParseHelperFileValue(value);
  if (!parsed || parsed->digest.size > kIndexSizeLimit) return Line::kMalformed;
  index = std::move(*parsed);
  return Line::kPresent;
}

OptionalLine ManifestReader::ReadEntryMap(int index, MapLine& map) const {
  const std::string key = text::Format("update_hash%d=", index);
  const auto hashAt = static_cast<std::size_t>(entryEnd_) + 2;
  if (hashAt > text_.size() || text_.compare(hashAt, key.size(), key) != 0) return OptionalLine::kAbsent;
  const auto hash = ReadManifestValue(text_, key, static_cast<text::Pos>(hashAt));
  const auto digest = hash ? ParseHashValue(hash->value) : std::nullopt;
  if (!digest) return OptionalLine::kAbsent;
  return ReadMapLine(text_, static_cast<std::size_t>(hash->end) + 2, index, digest->size, map);
}
