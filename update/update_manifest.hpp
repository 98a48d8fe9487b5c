// The update manifest: key=value lines ended by CR LF, read by searching for each key
// from where the previous one ended.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "file_digest.hpp"
#include "map_line.hpp"
#include "text.hpp"

struct UpdateManifest {
  std::string update_version;
  std::string update_filesize;
  std::string update_url;
  std::string update_size;

  std::int32_t FileSize() const { return text::AtoI32(update_filesize); }
  std::int32_t FileCount() const { return text::AtoI32(update_size); }
};

struct ManifestFileEntry {
  std::string name;
  std::string from;
  std::string to;
};

// A value found for a key, with spaces trimmed, and the position of the CR LF that ended it.
struct ManifestValue {
  std::string value;
  text::Pos end = 0;
};

// Finds `key` (which includes its "=") at or after `start` and takes the value up to the
// next CR LF. Missing when the key or the CR LF after it is not there.
std::optional<ManifestValue> ReadManifestValue(std::string_view manifest, std::string_view key, text::Pos start);

// Reads the manifest in the order the keys must appear: the header first, then the
// file count after the URL line, then the entries in index order.
class ManifestReader {
 public:
  // The manifest ends at its first zero byte, if it holds one.
  explicit ManifestReader(std::string_view manifest);

  // update_version, update_filesize and update_url, each searched from the end of the previous.
  bool ReadHeader(UpdateManifest& manifest);
  // update_size, searched from the end of the update_url line. Needs ReadHeader first.
  bool ReadFileCount(UpdateManifest& manifest);
  // Entry `index`: its name key from the end of the previous entry (the start of the text for
  // entry 0), then its from and to keys. Entries must be read in increasing order.
  bool ReadEntry(int index, ManifestFileEntry& entry);

  enum class HashLine { kAbsent, kPresent, kMalformed };
  // The hash line of the entry just read: present only when the line right after its to line
  // starts with "update_hash<index>=". The next entry is still searched from the to line's end.
  HashLine ReadEntryHash(int index, FileDigest& digest) const;
  // The map line of the entry just read: only the line right after a well-formed hash line can
  // be one (map_line.hpp).
  OptionalLine ReadEntryMap(int index, MapLine& map) const;

  // The key text of the last lookup that failed, for saying what is wrong with a manifest.
  const std::string& missingKey() const { return missingKey_; }
  // The manifest as read: up to its first zero byte.
  const std::string& text() const { return text_; }

 private:
  std::optional<ManifestValue> Next(std::string_view key, text::Pos& position);

  std::string text_;
  text::Pos urlEnd_ = text::kNotFound;
  text::Pos entryEnd_ = 0;
  std::string missingKey_;
};
