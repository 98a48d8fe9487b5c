#include "release_check.hpp"

#include <algorithm>
#include <system_error>

#include "block_maps.hpp"
#include "crypto.hpp"
#include "disk_digest.hpp"
#include "object_store.hpp"
#include "release.hpp"
#include "release_names.hpp"
#include "served_file.hpp"
#include "text/text.hpp"

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
  auto path = ServedMapPath(manifest, updateUrl, line.from);
  // A store release's maps are objects: beside the manifest that `manifest --store` wrote, or in
  // the store of the web root whose manifest `stage --store` wrote.
  std::error_code error;
  for (const fs::path& store :
       {fs::path(manifest.string() + kObjectsSuffix), manifest.parent_path().parent_path() / kStoreFolder})
    if (!path && fs::is_regular_file(ObjectPath(store, line.digest.sha256), error))
      path = ObjectPath(store, line.digest.sha256);
  if (!path) return ": its map " + line.from + " is not beside the manifest";
  const std::string bytes = ReadWholeFile(*path).value_or(std::string());
  if (bytes.size() != static_cast<std::size_t>(line.digest.size) || Sha256Of(bytes) != line.digest.sha256)
    return ": its map " + path->string() + " is not the one its map line states";
  if (bytes != BlockMapOfFile(file, file.string())) return ": its map " + path->string() + " is not this file's map";
  return {};
}

// Where an entry's file lies in `dir` under one reading. The manifest holds the served (code page
// 936) names: a staged folder holds them as they are, a release folder the publisher's own.
std::string EntryPath(const fs::path& dir, const PlannedDownload& download, FolderReading reading) {
  const std::string served = download.entry.from + "/" + download.entry.name;
  const std::string name = reading == FolderReading::kStagedFolder ? std::string() : NameFromServed(served);
  return dir.string() + (name.empty() ? served : name);
}

std::size_t FilesFound(const fs::path& dir, const ManifestCheck& check, FolderReading reading) {
  std::size_t found = 0;
  std::error_code error;
  for (const PlannedDownload& download : check.downloads)
    if (fs::is_regular_file(EntryPath(dir, download, reading), error)) ++found;
  return found;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// One reading for the whole folder, never a mix per name: some code page 936 names are valid UTF-8
// too, and would otherwise be taken for another file's name.
FolderReading ChooseReading(const fs::path& dir, const ManifestCheck& check) {
  if (std::all_of(check.downloads.begin(), check.downloads.end(), [](const PlannedDownload& download) {
        return IsAscii(download.entry.from) && IsAscii(download.entry.name);
      }))
    return FolderReading::kEither;
  const std::size_t asRelease = FilesFound(dir, check, FolderReading::kReleaseFolder);
  if (asRelease == check.downloads.size()) return FolderReading::kReleaseFolder;
  return FilesFound(dir, check, FolderReading::kStagedFolder) > asRelease ? FolderReading::kStagedFolder
                                                                          : FolderReading::kReleaseFolder;
}

}  // namespace

std::string DescribeReading(FolderReading reading) {
  switch (reading) {
    case FolderReading::kReleaseFolder: return "read as a release folder (UTF-8 names, as stage reads them)";
    case FolderReading::kStagedFolder: return "read as a staged version folder (the code page 936 names stage writes)";
    case FolderReading::kEither: break;
  }
  return "every name is ASCII: read alike as a release folder and as a staged version folder";
}

FolderReading CheckReleaseFolder(const fs::path& dir, const fs::path& manifest, ManifestCheck& check) {
  const FolderReading reading = ChooseReading(dir, check);
  for (std::size_t i = 0; i < check.downloads.size(); ++i) {
    const PlannedDownload& download = check.downloads[i];
    const std::string path = EntryPath(dir, download, reading);
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
  return reading;
}
