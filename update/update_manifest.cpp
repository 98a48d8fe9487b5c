#include "update_manifest.hpp"

std::optional<ManifestValue> ReadManifestValue(std::string_view manifest, std::string_view key, text::Pos start) {
  const text::Pos keyAt = text::Find(manifest, key, start);
  if (keyAt == text::kNotFound) return std::nullopt;
  const text::Pos valueAt = keyAt + static_cast<text::Pos>(key.size());
  const text::Pos end = text::Find(manifest, "\r\n", valueAt);
  if (end == text::kNotFound) return std::nullopt;
  return ManifestValue{text::Trim(text::Mid(manifest, valueAt, end - valueAt), " "), end};
}

ManifestReader::ManifestReader(std::string_view manifest) : text_(text::UntilNul(manifest)) {}

std::optional<ManifestValue> ManifestReader::Next(std::string_view key, text::Pos& position) {
  auto found = ReadManifestValue(text_, key, position);
  if (found)
    position = found->end;
  else
    missingKey_ = key;
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

bool ManifestReader::ReadFileCount(UpdateManifest& manifest) {
  if (urlEnd_ == text::kNotFound) return false;
  text::Pos position = urlEnd_;
  auto size = Next("update_size=", position);
  if (!size) return false;
  manifest.update_size = std::move(size->value);
  return true;
}

bool ManifestReader::ReadEntry(int index, ManifestFileEntry& entry) {
  text::Pos position = index == 0 ? 0 : entryEnd_;
  auto name = Next(text::Format("update_name%d=", index), position);
  if (!name) return false;
  auto from = Next(text::Format("update_from%d=", index), position);
  if (!from) return false;
  auto to = Next(text::Format("update_to%d=", index), position);
  if (!to) return false;
  entry = ManifestFileEntry{std::move(name->value), std::move(from->value), std::move(to->value)};
  entryEnd_ = position;
  return true;
}

ManifestReader::HashLine ManifestReader::ReadEntryHash(int index, FileDigest& digest) const {
  const std::string key = text::Format("update_hash%d=", index);
  const auto lineAt = static_cast<std::size_t>(entryEnd_) + 2;
  if (lineAt > text_.size() || text_.compare(lineAt, key.size(), key) != 0) return HashLine::kAbsent;
  const auto value = ReadManifestValue(text_, key, static_cast<text::Pos>(lineAt));
  const auto parsed = value ? ParseHashValue(value->value) : std::nullopt;
  if (!parsed) return HashLine::kMalformed;
  digest = *parsed;
  return HashLine::kPresent;
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
