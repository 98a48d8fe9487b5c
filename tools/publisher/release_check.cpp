#include "release_check.hpp"

#include <system_error>

#include "disk_digest.hpp"
#include "release.hpp"
#include "release_names.hpp"
#include "text.hpp"

void CheckReleaseFolder(const std::filesystem::path& dir, ManifestCheck& check) {
  for (std::size_t i = 0; i < check.downloads.size(); ++i) {
    const PlannedDownload& download = check.downloads[i];
    // The manifest holds the served (code page 936) names; the release folder the publisher's own.
    const std::string served = download.entry.from + "/" + download.entry.name;
    const std::string name = NameFromServed(served);
    const std::string path = dir.string() + (name.empty() ? served : name);
    const std::string entry = text::Format("entry %zu: ", i) + path;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
      check.problems.push_back(entry + ": not a file in the release folder");
      continue;
    }
    if (!download.digest) continue;
    const auto size = std::filesystem::file_size(path, error);
    if (!error && size != static_cast<std::uintmax_t>(download.digest->size)) {
      check.problems.push_back(entry + text::Format(": %ju bytes, its hash line says %d", static_cast<uintmax_t>(size),
                                                    download.digest->size));
      continue;
    }
    try {
      if (DigestOfFile(path, path).sha256 != download.digest->sha256)
        check.problems.push_back(entry + ": its SHA-256 is not the one its hash line states");
    } catch (const PublishError& failure) {
      check.problems.push_back(text::Format("entry %zu: ", i) + failure.what());
    }
  }
}
