// The manifest reader over arbitrary bytes, in the order the update run reads: the header, the
// count, then the entries in index order until one is missing, each judged by IsSafeEntry and
// with its hash line; and the signature line, which must give back the very text it was read from.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "entry_safety.hpp"
#include "manifest_signature.hpp"
#include "update_manifest.hpp"

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
  UpdateManifest manifest;
  if (!reader.ReadHeader(manifest)) return 0;
  CheckValue(manifest.update_version, "update_version");
  CheckValue(manifest.update_filesize, "update_filesize");
  CheckValue(manifest.update_url, "update_url");
  if (!reader.ReadFileCount(manifest)) return 0;
  CheckValue(manifest.update_size, "update_size");
  for (std::int32_t i = 0; i < manifest.FileCount(); ++i) {
    ManifestFileEntry entry;
    if (!reader.ReadEntry(i, entry)) break;
    CheckValue(entry.name, "name");
    CheckValue(entry.from, "from");
    CheckValue(entry.to, "to");
    if (!IsSafeEntry(entry)) break;
    FileDigest digest;
    if (reader.ReadEntryHash(i, digest) == ManifestReader::HashLine::kPresent &&
        (digest.size < 0 || !ParseHashValue(HashValue(digest))))
      std::abort();
  }
  return 0;
}
