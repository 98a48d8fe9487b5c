// The manifest's keys found by the rules as first written: every search walks the text from its
// beginning (text::Find) to the first match at or after a position. Slow, and plainly right:
// the oracle of the reader, which searches on from each match instead.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "manifest/update_manifest.hpp"

class SearchFromPosition {
 public:
  explicit SearchFromPosition(std::string_view text) : text_(text::UntilNul(text)) {}

  bool ReadHeader(UpdateManifest& manifest);
  bool ReadFileCount(UpdateManifest& manifest);
  bool ReadIndexCount(UpdateManifest& manifest);
  bool ReadEntry(int index, ManifestFileEntry& entry);
  // The value of the line right after the entry's last line read when it starts with `key`;
  // `malformed` when that line has no CR LF.
  std::optional<std::string> LineAfterEntry(const std::string& key, bool& malformed);
  std::optional<std::string> LineAfterCount(const std::string& key, bool& malformed) const;

 private:
  std::optional<std::string> Next(const std::string& key, text::Pos& position) const;
  std::optional<std::string> LineAt(text::Pos at, const std::string& key, bool& malformed, text::Pos& end) const;

  std::string text_;
  text::Pos urlEnd_ = text::kNotFound;
  text::Pos sizeEnd_ = text::kNotFound;
  text::Pos entryEnd_ = 0;
  text::Pos lineEnd_ = text::kNotFound;
};
