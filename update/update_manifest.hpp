// The update manifest: key=value lines ended by CR LF, read by searching for each key
// from where the previous one ended. A release index has the grammar of the manifest's entry part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "file_digest.hpp"
#include "helper_file.hpp"
#include "map_line.hpp"
#include "text.hpp"
#include "utc_time.hpp"

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
  text::Pos keyAt = 0;  // where its key starts
};

// Finds `key` (which includes its "=") at or after `start`, a character boundary, and takes the
// value up to the next CR LF. Missing when the key or the CR LF after it is not there.
std::optional<ManifestValue> ReadManifestValue(std::string_view manifest, std::string_view key, text::Pos start);

// The largest release index an updater fetches.
inline constexpr std::int32_t kIndexSizeLimit = 64 * 1024 * 1024;

// Reads the manifest in the order the keys must appear: the header first, then the
// file count after the URL line, then the entries in index order. It reads through a view of
// the caller's text, which must outlive it; a copy of a reader shares that text. Every search
// goes on from where the previous one ended, so reading is linear in the text's size.
class ManifestReader {
 public:
  // The manifest ends at its first zero byte, if it holds one.
  explicit ManifestReader(std::string_view manifest);
  // A reader of a temporary would outlive its text.
  explicit ManifestReader(std::string&& manifest) = delete;

  // update_version, update_filesize and update_url, each searched from the end of the previous.
  bool ReadHeader(UpdateManifest& manifest);
  using ExpiryLine = OptionalLine;
  // The expiry line: present only when the line right after the update_url line starts with
  // "update_expires=", and then well formed only as a UTC time. Needs ReadHeader first.
  ExpiryLine ReadExpiry(UtcSeconds& expires) const;
  // update_size, searched from the end of the update_url line. Needs ReadHeader first.
  bool ReadFileCount(UpdateManifest& manifest);
  // update_size of a release index, which has no header: searched from the start.
  bool ReadIndexCount(UpdateManifest& manifest);
  // Entry `index`: its name key from the end of the previous entry (the start of the text for
  // entry 0), then its from and to keys. Entries must be read in increasing order.
  bool ReadEntry(int index, ManifestFileEntry& entry);

  using Line = OptionalLine;
  using HashLine = Line;
  // The hash line of the entry just read: present only when the line right after its to line
  // starts with "update_hash<index>=". The next entry is still searched from the to line's end.
  HashLine ReadEntryHash(int index, FileDigest& digest);
  // An optional line of the entry just read: present when the line right after the entry's last
  // line read so far (its to line, or an optional line read before) starts with `key`, which
  // then becomes its last line; malformed when that line is not ended by CR LF.
  Line ReadLineAfterEntry(std::string_view key, std::string& value);
  // The index line: present only when the line right after the update_size line starts with
  // "update_index="; malformed unless it reads "<from> <sha256> <size>" with a size of at most
  // kIndexSizeLimit. Needs ReadFileCount first.
  Line ReadIndexLine(HelperFile& index) const;
  // The map line of the entry just read: only the line right after a well-formed hash line can
  // be one (map_line.hpp).
  OptionalLine ReadEntryMap(int index, MapLine& map) const;

  // The key text of the last lookup that failed, for saying what is wrong with a manifest.
  const std::string& missingKey() const { return missingKey_; }
  // The manifest as read: up to its first zero byte.
  std::string_view text() const { return text_; }
  // Where the last key found starts, for saying where something is wrong.
  text::Pos lastKeyAt() const { return lastKeyAt_; }

 private:
  std::optional<ManifestValue> Next(std::string_view key, text::Pos& position);
  // The line at `lineAt` when it starts with `key`, as ReadLineAfterEntry reads it.
  Line LineAt(text::Pos lineAt, std::string_view key, std::string& value, text::Pos& end) const;

  std::string_view text_;
  text::Pos urlEnd_ = text::kNotFound;
  text::Pos sizeEnd_ = text::kNotFound;
  text::Pos entryEnd_ = 0;
  text::Pos entryLineEnd_ = text::kNotFound;
  text::Pos lastKeyAt_ = text::kNotFound;
  std::string missingKey_;
};
