#include "search_from_position.hpp"

#include "manifest/manifest_keys.hpp"

std::optional<std::string> SearchFromPosition::Next(const std::string& key, text::Pos& position) const {
  const text::Pos keyAt = text::Find(text_, key, position);
  if (keyAt == text::kNotFound) return std::nullopt;
  const text::Pos valueAt = keyAt + static_cast<text::Pos>(key.size());
  const text::Pos end = text::Find(text_, "\r\n", valueAt);
  if (end == text::kNotFound) return std::nullopt;
  position = end;
  return text::Trim(text::Mid(text_, valueAt, end - valueAt), " ");
}

bool SearchFromPosition::ReadHeader(UpdateManifest& manifest) {
  text::Pos position = 0;
  auto version = Next("update_version=", position);
  auto filesize = version ? Next("update_filesize=", position) : std::nullopt;
  auto url = filesize ? Next("update_url=", position) : std::nullopt;
  if (!url) return false;
  manifest.update_version = *version, manifest.update_filesize = *filesize, manifest.update_url = *url;
  urlEnd_ = position;
  return true;
}

bool SearchFromPosition::ReadFileCount(UpdateManifest& manifest) {
  text::Pos position = urlEnd_;
  auto size = urlEnd_ == text::kNotFound ? std::nullopt : Next("update_size=", position);
  if (!size) return false;
  manifest.update_size = *size;
  sizeEnd_ = position;
  return true;
}

bool SearchFromPosition::ReadIndexCount(UpdateManifest& manifest) {
  text::Pos position = 0;
  auto size = Next("update_size=", position);
  if (!size) return false;
  manifest.update_size = *size;
  sizeEnd_ = position;
  return true;
}

bool SearchFromPosition::ReadEntry(int index, ManifestFileEntry& entry) {
  text::Pos position = index == 0 ? 0 : entryEnd_;
  auto name = Next(manifest_key::kName(index), position);
  auto from = name ? Next(manifest_key::kFrom(index), position) : std::nullopt;
  auto to = from ? Next(manifest_key::kTo(index), position) : std::nullopt;
  if (!to) return false;
  entry = {*name, *from, *to};
  entryEnd_ = lineEnd_ = position;
  return true;
}

std::optional<std::string> SearchFromPosition::LineAt(text::Pos at, const std::string& key, bool& malformed,
                                                      text::Pos& end) const {
  malformed = false;
  if (at < 0 || text::Mid(text_, at, static_cast<text::Pos>(key.size())) != key) return std::nullopt;
  text::Pos position = at;
  auto value = Next(key, position);
  malformed = !value;
  end = position;
  return value;
}

std::optional<std::string> SearchFromPosition::LineAfterEntry(const std::string& key, bool& malformed) {
  text::Pos end = 0;
  auto value = lineEnd_ == text::kNotFound ? std::nullopt : LineAt(lineEnd_ + 2, key, malformed, end);
  if (value) lineEnd_ = end;
  return value;
}

std::optional<std::string> SearchFromPosition::LineAfterCount(const std::string& key, bool& malformed) const {
  text::Pos end = 0;
  malformed = false;
  return sizeEnd_ == text::kNotFound ? std::nullopt : LineAt(sizeEnd_ + 2, key, malformed, end);
}
