#include "manifest_check.hpp"

#include <algorithm>

#include "crypto.hpp"
#include "entry_safety.hpp"
#include "text.hpp"

namespace {

class Problems {
 public:
  Problems(std::string_view bytes, std::vector<std::string>& out) : bytes_(bytes), out_(out) {}

  int LineOf(text::Pos pos) const {
    return 1 + static_cast<int>(std::count(bytes_.begin(), bytes_.begin() + std::max<text::Pos>(pos, 0), '\n'));
  }
  void At(text::Pos pos, const std::string& what) {
    out_.push_back(text::Format("line %d: %s", LineOf(pos), what.c_str()));
  }
  void Add(const std::string& what) { out_.push_back(what); }

  // Says why a key the reader needed was not found where it looked.
  void Missing(const std::string& key) {
    const text::Pos anywhere = text::Find(bytes_, key, 0);
    if (anywhere == text::kNotFound)
      Add(key + " is missing");
    else if (text::Find(bytes_, "\r\n", anywhere) == text::kNotFound)
      At(anywhere, key + " is not followed by CR LF");
    else
      At(anywhere, key + " stands before the key it must follow, where the updater does not look for it");
  }

  void Tabs(const std::string& key, const std::string& value) {
    if (value.find('\t') != std::string::npos) At(text::Find(bytes_, key, 0), key + " keeps a tab in its value");
  }

 private:
  std::string_view bytes_;
  std::vector<std::string>& out_;
};

int CountNameKeys(std::string_view text) {
  int names = 0;
  while (text::Find(text, text::Format("update_name%d=", names), 0) != text::kNotFound) ++names;
  return names;
}

}  // namespace

ManifestCheck CheckManifest(std::string_view bytes, const std::optional<PublicKey>& publicKey) {
  ManifestCheck check;
  Problems problems(bytes, check.problems);
  if (bytes.size() > kManifestLimit)
    problems.At(
        static_cast<text::Pos>(kManifestLimit),
        text::Format("the manifest is %zu bytes; the updater reads only the first %zu", bytes.size(), kManifestLimit));
  for (std::size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
      problems.At(static_cast<text::Pos>(i), "ends with LF only, not CR LF");
  if (!bytes.empty() && bytes.back() != '\n')
    problems.At(static_cast<text::Pos>(bytes.size()), "the last line does not end with CR LF");

  if (publicKey) {
    const auto signature = FindManifestSignature(bytes.substr(0, kManifestLimit));
    const text::Pos keyAt = text::Find(bytes, kSignatureKey, 0);
    if (!signature && keyAt == text::kNotFound)
      problems.Add("not signed: there is no update_signature= line");
    else if (!signature)
      problems.At(keyAt,
                  "not signed: update_signature= must be the last line, 88 base64 characters and CR LF, with nothing "
                  "after it");
    else if (!VerifyP256Signature(signature->signedText, signature->signature, *publicKey))
      problems.At(static_cast<text::Pos>(signature->signedText.size()), "the signature does not match the public key");
  }

  ManifestReader reader(bytes.substr(0, kManifestLimit));
  check.headerRead = reader.ReadHeader(check.header);
  if (!check.headerRead) {
    problems.Missing(reader.missingKey());
    return check;
  }
  problems.Tabs("update_version=", check.header.update_version);
  problems.Tabs("update_filesize=", check.header.update_filesize);
  problems.Tabs("update_url=", check.header.update_url);
  check.countRead = reader.ReadFileCount(check.header);
  if (!check.countRead) {
    problems.Missing(reader.missingKey());
    return check;
  }
  problems.Tabs("update_size=", check.header.update_size);

  const int count = check.header.FileCount();
  const std::string installDir = "<install>";
  for (int i = 0; i < count; ++i) {
    ManifestFileEntry entry;
    if (!reader.ReadEntry(i, entry)) {
      problems.Missing(reader.missingKey());
      break;
    }
    const std::string nameKey = text::Format("update_name%d=", i);
    for (const auto& [key, value] :
         {std::pair{nameKey, entry.name}, std::pair{text::Format("update_from%d=", i), entry.from},
          std::pair{text::Format("update_to%d=", i), entry.to}})
      problems.Tabs(key, value);
    if (const std::string reason = UnsafeEntryReason(entry); !reason.empty())
      problems.At(text::Find(bytes, nameKey, 0),
                  text::Format("entry %d is refused by the updater: %s", i, reason.c_str()));
    FileDigest digest;
    const auto hash = reader.ReadEntryHash(i, digest);
    const std::string hashKey = text::Format("update_hash%d=", i);
    if (hash == ManifestReader::HashLine::kMalformed)
      problems.At(text::Find(bytes, hashKey, text::Find(bytes, nameKey, 0)),
                  hashKey +
                      " is malformed, so the updater stops before this entry: it takes 64 digits of [0-9a-f], one "
                      "space and the size (0 to 2147483647, no leading zero)");
    else if (hash == ManifestReader::HashLine::kAbsent && publicKey)
      problems.At(text::Find(bytes, nameKey, 0),
                  text::Format("entry %d has no hash line, which an updater with a built-in key refuses", i));
    MapLine map;
    const OptionalLine mapLine = reader.ReadEntryMap(i, map);
    if (mapLine == OptionalLine::kMalformed)
      problems.At(text::Find(bytes, text::Format("update_map%d=", i), text::Find(bytes, nameKey, 0)),
                  text::Format("update_map%d= is malformed, so the updater stops before this entry: it takes the "
                               "address after update_url, the map's SHA-256 and its size (at most the file's / 200 + "
                               "4096)",
                               i));
    const std::string remoteDir = check.header.update_url + entry.from;
    const std::string localDir = installDir + entry.to;
    check.downloads.push_back({entry, remoteDir + "/" + entry.name, localDir + "\\" + entry.name,
                               hash == ManifestReader::HashLine::kPresent ? std::optional(digest) : std::nullopt,
                               mapLine == OptionalLine::kPresent ? std::optional(map) : std::nullopt});
  }
  check.entriesRead = static_cast<int>(check.downloads.size()) == count;
  const int names = CountNameKeys(reader.text());
  if (names != count)
    problems.Add(text::Format("update_size says %d entries, but the manifest has %d (update_name0= to update_name%d=)",
                              count, names, names - 1));
  return check;
}
