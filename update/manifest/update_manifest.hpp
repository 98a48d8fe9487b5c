// The update manifest: key=value lines ended by CR LF, read by searching for each key
// from where the previous one ended. A release index has the grammar of the manifest's entry part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_digest.hpp"
#include "manifest/helper_file.hpp"
#include "manifest/map_line.hpp"
#include "manifest/pack_line.hpp"
#include "manifest/removal_lines.hpp"
#include "manifest/store_line.hpp"
#include "text/text.hpp"
#include "manifest/utc_time.hpp"

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

// An optional line of the manifest: not there, there and well formed, or there with its key but
// not its form.
enum class OptionalLine { kAbsent, kPresent, kMalformed };

// Whether a line that starts with `key` stands directly after the CR LF at `after` (kNotFound: none).
bool StartsLineAfter(std::string_view text, text::Pos after, std::string_view key);

// The one grammar of the optional lines: the line with `key` that stands directly after the line
// whose CR LF is at `after`, that is, starts at the byte after that CR LF. Absent when no line
// starts there with `key` (or `after` is kNotFound); malformed when one does but is not ended by
// CR LF or `parse` (value -> std::optional) does not take its value; present otherwise. A present
// line moves `after` to its own CR LF, so that the next line of a chain is read directly after it.
template <class Value, class Parse>
OptionalLine ReadLineAfter(std::string_view text, text::Pos& after, std::string_view key, Parse&& parse, Value& value) {
  if (!StartsLineAfter(text, after, key)) return OptionalLine::kAbsent;
  const auto line = ReadManifestValue(text, key, after + 2);
  if (!line) return OptionalLine::kMalformed;
  auto parsed = parse(line->value);
  if (!parsed) return OptionalLine::kMalformed;
  value = std::move(*parsed);
  after = line->end;
  return OptionalLine::kPresent;
}

// The largest release index an updater fetches.
inline constexpr std::int32_t kIndexSizeLimit = 64 * 1024 * 1024;

// Reads the manifest in the order the keys must appear: the header first, then the
// file count after the URL line, then the entries in index order. It reads through a view of
// the caller's text, which must outlive it; a copy of a reader shares that text. Every search
// goes on from where the previous one ended, so reading is linear in the text's size.
//
// The optional lines hang in three chains, each read with ReadLineAfter from the last line read
// in it: the header's (update_url, then the expiry line, then the store line), the count's
// (update_size, then the index line) and the entry's (its to line, then its hash line, then its
// map line or its pack line; after the last entry, that entry's last line, then the removal list).
class ManifestReader {
 public:
  // The manifest ends at its first zero byte, if it holds one.
  explicit ManifestReader(std::string_view manifest);
  // A reader of a temporary would outlive its text.
  explicit ManifestReader(std::string&& manifest) = delete;

  // update_version, update_filesize and update_url, each searched from the end of the previous.
  bool ReadHeader(UpdateManifest& manifest);
  // The expiry line: directly after the update_url line, well formed only as a UTC time. Needs
  // ReadHeader first.
  OptionalLine ReadExpiry(UtcSeconds& expires);
  // The store line: directly after the update_url line, or directly after a line that starts with
  // the expiry key there, whether or not this build reads that line (store_line.hpp). A store line
  // followed directly by an expiry line is malformed, since no one would read that expiry. Needs
  // ReadHeader first; the count is still searched from the end of the update_url line.
  OptionalLine ReadStore(StoreLine& store);
  // update_size: searched from the end of the update_url line once ReadHeader has read it; from
  // the start in a release index, which has no header (never after a header that is missing).
  bool ReadCount(UpdateManifest& manifest);
  // Entry `index`: its name key from the end of the previous entry (the start of the text for
  // entry 0), then its from and to keys. Entries must be read in increasing order.
  bool ReadEntry(int index, ManifestFileEntry& entry);

  // The hash line of the entry just read, directly after its to line. The next entry is still
  // searched from the to line's end.
  OptionalLine ReadEntryHash(int index, FileDigest& digest);
  // The index line, directly after the update_size line: "<from> <sha256> <size>" with a size of
  // at most kIndexSizeLimit. Needs ReadCount first.
  OptionalLine ReadIndexLine(HelperFile& index);
  // The map line of the entry just read: only the line directly after a well-formed hash line, read
  // by ReadEntryHash, can be one (map_line.hpp).
  OptionalLine ReadEntryMap(int index, MapLine& map);
  // The removal list, directly after the last line of the entry just read, which must be the last
  // entry: update_removed=N, then exactly N removal lines, each directly after the one before.
  // Malformed when the count or any of its lines is not of its form or missing.
  OptionalLine ReadRemovals(std::vector<RemovalLine>& lines);
  // The pack line of the entry just read, after ReadEntryMap: only the line directly after a
  // well-formed hash line can be one (pack_line.hpp). A pack line with a map line before or after
  // it is malformed: a packed file is never assembled from a map.
  OptionalLine ReadEntryPack(int index, PackLine& pack);

  // The key text of the last lookup that failed, for saying what is wrong with a manifest.
  const std::string& missingKey() const { return missingKey_; }
  // The manifest as read: up to its first zero byte.
  std::string_view text() const { return text_; }
  // Where the last key found starts, for saying where something is wrong.
  text::Pos lastKeyAt() const { return lastKeyAt_; }

 private:
  std::optional<ManifestValue> Next(std::string_view key, text::Pos& position);
  // The CR LF of the last line of the entry just read: its to line, or the last of the lines that
  // stand in its chain after it (its hash line, then a map line), whatever their form. Every line an entry may
  // have is named here and nowhere else.
  text::Pos EntryEnd() const;

  std::string_view text_;
  text::Pos countFrom_ = 0;             // where update_size is searched from
  text::Pos urlEnd_ = text::kNotFound;  // the update_url line's CR LF
  text::Pos headerChain_ = text::kNotFound;
  text::Pos countChain_ = text::kNotFound;
  text::Pos entryEnd_ = 0;  // the to line's CR LF of the entry just read
  int entryIndex_ = -1;     // the entry just read
  text::Pos entryChain_ = text::kNotFound;
  std::optional<FileDigest> entryHash_;  // of the entry just read, when its hash line is well formed
  bool entryMap_ = false;                // the entry just read has a map line
  text::Pos lastKeyAt_ = text::kNotFound;
  std::string missingKey_;
};
