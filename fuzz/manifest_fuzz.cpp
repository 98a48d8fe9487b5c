// The manifest reader over arbitrary bytes, in the order the update run reads: the header, the
// count, then the entries in index order until one is missing, each judged by IsSafeEntry and
// with its hash line; and the signature line, which must give back the very text it was read from.
// The same bytes read as a manifest and as a release index must give what the search from each
// position, walking the text from its beginning every time, gives.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "paths/entry_safety.hpp"
#include "manifest/manifest_keys.hpp"
#include "manifest/manifest_signature.hpp"
#include "search_from_position.hpp"
#include "manifest/update_manifest.hpp"

namespace {

// A value comes without the spaces around it and from before the manifest's first zero byte. (It
// may hold a CR LF: after a lead byte the CR is a trail byte, so the line goes on, as on Windows.)
void CheckValue(const std::string& value, const char* key) {
  const bool padded = !value.empty() && (value.front() == ' ' || value.back() == ' ');
  if (padded || value.find('\0') != std::string::npos) {
    (void)std::fprintf(stderr, "value of %s is not a trimmed line: \"%s\"\n", key, value.c_str());
    std::abort();
  }
}

[[noreturn]] void Differs(const char* what, int entry) {
  (void)std::fprintf(stderr, "the reader and the search from each position differ: %s of entry %d\n", what, entry);
  std::abort();
}

// Reads the count and the entries with their hash lines both ways, after the header for a
// manifest, from the start for an index.
void CompareWithSearchFromPosition(std::string_view input, bool index) {
  ManifestReader reader(input);
  SearchFromPosition oracle(input);
  UpdateManifest m, o;
  const bool header = !index && reader.ReadHeader(m);
  if (!index && header != oracle.ReadHeader(o)) Differs("the header", -1);
  if (!index && !header) return;
  if (m.update_version != o.update_version || m.update_filesize != o.update_filesize || m.update_url != o.update_url)
    Differs("the header's values", -1);
  const bool counted = reader.ReadCount(m);
  if (counted != (index ? oracle.ReadIndexCount(o) : oracle.ReadFileCount(o)) || m.update_size != o.update_size)
    Differs("the count", -1);
  if (!counted) return;
  HelperFile line;
  bool malformed = false;
  const auto indexLine = reader.ReadIndexLine(line);
  const auto expected = oracle.LineAfterCount(std::string(manifest_key::kIndex), malformed);
  const auto parsed = expected ? ParseHelperFileValue(*expected) : std::nullopt;
  const auto oracleLine = malformed || (expected && (!parsed || parsed->digest.size > kIndexSizeLimit))
                              ? OptionalLine::kMalformed
                          : expected ? OptionalLine::kPresent
                                     : OptionalLine::kAbsent;
  if (indexLine != oracleLine || (parsed && oracleLine == OptionalLine::kPresent &&
                                  (line.from != parsed->from || !(line.digest == parsed->digest))))
    Differs("the index line", -1);
  for (std::int32_t i = 0; i < m.FileCount(); ++i) {
    ManifestFileEntry entry, found;
    const bool read = reader.ReadEntry(i, entry);
    if (read != oracle.ReadEntry(i, found)) Differs("the keys", i);
    if (!read) return;
    if (entry.name != found.name || entry.from != found.from || entry.to != found.to) Differs("the values", i);
    FileDigest digest;
    const auto hash = reader.ReadEntryHash(i, digest);
    const auto hashValue = oracle.LineAfterEntry(manifest_key::kHash(i), malformed);
    const auto hashParsed = hashValue ? ParseHashValue(*hashValue) : std::nullopt;
    const auto oracleHash = malformed || (hashValue && !hashParsed) ? OptionalLine::kMalformed
                            : hashValue                             ? OptionalLine::kPresent
                                                                    : OptionalLine::kAbsent;
    if (hash != oracleHash || (hashParsed && !(digest == *hashParsed))) Differs("the hash line", i);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  ManifestReader reader(input);
  if (!input.starts_with(reader.text()) || reader.text().find('\0') != std::string::npos) std::abort();
  if (const auto signature = FindManifestSignature(input)) {
    const std::string_view signedText = signature->signedText;
    if (reader.text() != std::string(signedText) + SignatureLine(signature->signature) ||
        !(signedText.empty() || signedText.ends_with("\r\n")))
      std::abort();
  }
  CompareWithSearchFromPosition(input, false);
  CompareWithSearchFromPosition(input, true);
  UpdateManifest manifest;
  if (!reader.ReadHeader(manifest)) return 0;
  CheckValue(manifest.update_version, "update_version");
  CheckValue(manifest.update_filesize, "update_filesize");
  CheckValue(manifest.update_url, "update_url");
  // A store line is written back as it was read, within its limit.
  StoreLine store;
  if (reader.ReadStore(store) == OptionalLine::kPresent) {
    const auto again = ParseStoreValue(StoreValue(store));
    if (store.url.size() > kStoreUrlLimit || !again || again->url != store.url || again->features != store.features)
      std::abort();
  }
  if (!reader.ReadCount(manifest)) return 0;
  CheckValue(manifest.update_size, "update_size");
  for (std::int32_t i = 0; i < manifest.FileCount(); ++i) {
    ManifestFileEntry entry;
    if (!reader.ReadEntry(i, entry)) break;
    CheckValue(entry.name, "name");
    CheckValue(entry.from, "from");
    CheckValue(entry.to, "to");
    if (!IsSafeEntry(entry)) break;
    FileDigest digest;
    if (reader.ReadEntryHash(i, digest) == OptionalLine::kPresent &&
        (digest.size < 0 || !ParseHashValue(HashValue(digest))))
      std::abort();
  }
  return 0;
}
