#include "manifest/update_manifest.hpp"

#include "manifest/manifest_keys.hpp"

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

bool StartsLineAfter(std::string_view text, text::Pos after, std::string_view key) {
  if (after == text::kNotFound || after < 0 || static_cast<std::size_t>(after) + 2 > text.size()) return false;
  return text.substr(static_cast<std::size_t>(after) + 2).starts_with(key);
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
  countFrom_ = text::kNotFound;
  urlEnd_ = text::kNotFound;
  auto version = Next(manifest_key::kVersion, position);
  if (!version) return false;
  auto filesize = Next(manifest_key::kFileSize, position);
  if (!filesize) return false;
  auto url = Next(manifest_key::kUrl, position);
  if (!url) return false;
  manifest.update_version = std::move(version->value);
  manifest.update_filesize = std::move(filesize->value);
  manifest.update_url = std::move(url->value);
  countFrom_ = position;
  urlEnd_ = position;
  headerChain_ = position;
  return true;
}

OptionalLine ManifestReader::ReadExpiry(UtcSeconds& expires) {
  return ReadLineAfter(text_, headerChain_, manifest_key::kExpires, ReadUtcTime, expires);
}

OptionalLine ManifestReader::ReadStore(StoreLine& store) {
  text::Pos after = urlEnd_;
  if (StartsLineAfter(text_, after, manifest_key::kExpires)) {
    const auto expiry = ReadManifestValue(text_, manifest_key::kExpires, after + 2);
    if (!expiry) return OptionalLine::kAbsent;
    after = expiry->end;
  }
  const OptionalLine line = ReadLineAfter(text_, after, manifest_key::kStore, ParseStoreValue, store);
  if (line == OptionalLine::kPresent && StartsLineAfter(text_, after, manifest_key::kExpires))
    return OptionalLine::kMalformed;
  return line;
}

bool ManifestReader::ReadCount(UpdateManifest& manifest) {
  if (countFrom_ == text::kNotFound) return false;
  text::Pos position = countFrom_;
  auto size = Next(manifest_key::kSize, position);
  if (!size) return false;
  manifest.update_size = std::move(size->value);
  countChain_ = position;
  return true;
}

bool ManifestReader::ReadEntry(int index, ManifestFileEntry& entry) {
  text::Pos position = index == 0 ? 0 : entryEnd_;
  auto name = Next(manifest_key::kName(index), position);
  if (!name) return false;
  const text::Pos nameAt = lastKeyAt_;
  auto from = Next(manifest_key::kFrom(index), position);
  if (!from) return false;
  auto to = Next(manifest_key::kTo(index), position);
  if (!to) return false;
  entry = ManifestFileEntry{std::move(name->value), std::move(from->value), std::move(to->value)};
  entryEnd_ = position;
  entryIndex_ = index;
  entryChain_ = position;
  entryHash_.reset();
  entryMap_ = false;
  lastKeyAt_ = nameAt;
  return true;
}

OptionalLine ManifestReader::ReadEntryHash(int index, FileDigest& digest) {
  const OptionalLine line = ReadLineAfter(text_, entryChain_, manifest_key::kHash(index), ParseHashValue, digest);
  if (line == OptionalLine::kPresent) entryHash_ = digest;
  return line;
}

OptionalLine ManifestReader::ReadIndexLine(HelperFile& index) {
  return ReadLineAfter(
      text_, countChain_, manifest_key::kIndex,
      [](std::string_view value) {
        auto parsed = ParseHelperFileValue(value);
        return parsed && parsed->digest.size <= kIndexSizeLimit ? parsed : std::nullopt;
      },
      index);
}

OptionalLine ManifestReader::ReadEntryMap(int index, MapLine& map) {
  if (!entryHash_) return OptionalLine::kAbsent;
  const std::int32_t fileSize = entryHash_->size;
  const OptionalLine line = ReadLineAfter(
      text_, entryChain_, manifest_key::kMap(index),
      [fileSize](std::string_view value) { return ParseMapValue(value, fileSize); }, map);
  entryMap_ = line == OptionalLine::kPresent;
  return line;
}

OptionalLine ManifestReader::ReadEntryPack(int index, PackLine& pack) {
  if (!entryHash_) return OptionalLine::kAbsent;
  const std::string key = manifest_key::kPack(index);
  if (entryMap_) return StartsLineAfter(text_, entryChain_, key) ? OptionalLine::kMalformed : OptionalLine::kAbsent;
  const std::int32_t fileSize = entryHash_->size;
  const OptionalLine line = ReadLineAfter(
      text_, entryChain_, key, [fileSize](std::string_view value) { return ParsePackValue(value, fileSize); }, pack);
  if (line == OptionalLine::kPresent && StartsLineAfter(text_, entryChain_, manifest_key::kMap(index)))
    return OptionalLine::kMalformed;
  return line;
}

text::Pos ManifestReader::EntryEnd() const {
  text::Pos end = entryEnd_;
  const auto skip = [this, &end](const manifest_key::EntryKey& key) {
    if (!StartsLineAfter(text_, end, key(entryIndex_))) return false;
    const auto line = ReadManifestValue(text_, key(entryIndex_), end + 2);
    if (line) end = line->end;
    return line.has_value();
  };
  // Its hash line, then the line that may follow a hash line: a map line or a pack line.
  if (!skip(manifest_key::kHash)) return end;
  for (const manifest_key::EntryKey& key : {manifest_key::kMap, manifest_key::kPack})
    if (skip(key)) break;
  return end;
}

OptionalLine ManifestReader::ReadRemovals(std::vector<RemovalLine>& lines) {
  lines.clear();
  if (entryIndex_ < 0) return OptionalLine::kAbsent;
  text::Pos after = EntryEnd();
  std::int32_t count = 0;
  const OptionalLine list = ReadLineAfter(text_, after, manifest_key::kRemoved, ParseRemovedCount, count);
  if (list != OptionalLine::kPresent) return list;
  lines.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) {
    RemovalLine line;
    if (ReadLineAfter(text_, after, manifest_key::kGone(i), ParseRemovalValue, line) != OptionalLine::kPresent) {
      lines.clear();
      return OptionalLine::kMalformed;
    }
    lines.push_back(std::move(line));
  }
  return OptionalLine::kPresent;
}
