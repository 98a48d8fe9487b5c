#include "release_check.hpp"

#include <fstream>
#include <iterator>
#include <system_error>

#include "block_maps.hpp"
#include "crypto.hpp"
#include "disk_digest.hpp"
#include "release.hpp"
#include "release_names.hpp"
#include "text.hpp"

namespace fs = std::filesystem;

std::optional<fs::path> ServedMapPath(const fs::path& manifest, const std::string& updateUrl, const std::string& from) {
  const std::string prefix = std::string(kMapsSuffix) + "/";
  if (!from.starts_with(prefix)) return std::nullopt;
  const std::string name = from.substr(prefix.size());
  const std::string version = updateUrl.substr(updateUrl.rfind('/') + 1);
  std::error_code error;
  for (const fs::path& path : {fs::path(manifest.string() + kMapsSuffix) / name,
                               manifest.parent_path().parent_path() / "v" / (version + kMapsSuffix) / name})
    if (fs::is_regular_file(path, error)) return path;
  return std::nullopt;
}

namespace {

// The problem with an entry's map, or nothing.
std::string MapProblem(const fs::path& file, const fs::path& manifest, const std::string& updateUrl,
                       const MapLine& line) {
  const auto path = ServedMapPath(manifest, updateUrl, line.from);
  if (!path) return ": its map " + line.from + " is not beside the manifest";
  std::ifstream in(*path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Sha256 hash;
  hash.Add(bytes.data(), bytes.size());
  if (bytes.size() != static_cast<std::size_t>(line.digest.size) || hash.Finish() != line.digest.sha256)
    return ": its map " + path->string() + " is not the one its map line states";
  if (bytes != BlockMapOfFile(file, file.string())) return ": its map " + path->string() + " is not this file's map";
  return {};
}

}  // namespace

void CheckReleaseFolder(const fs::path& dir, const fs::path& manifest, ManifestCheck& check) {
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
      else if (download.map)
        if (const std::string problem = MapProblem(path, manifest, check.header.update_url, *download.map);
            !problem.empty())
          check.problems.push_back(entry + problem);
    } catch (const PublishError& failure) {
      check.problems.push_back(text::Format("entry %zu: ", i) + failure.what());
    }
  }
}
