#include "release_scan.hpp"

#include <system_error>

#include "disk_digest.hpp"
#include "file_version_probe.hpp"
#include "paths/install_paths.hpp"

namespace fs = std::filesystem;

Release ScanRelease(const fs::path& root, bool withDigests) {
  std::error_code error;
  if (!fs::is_directory(root, error)) throw PublishError(root.string() + ": not a folder");
  Release release;
  fs::recursive_directory_iterator it(root, error), end;
  for (; !error && it != end; it.increment(error)) {
    const fs::directory_entry& entry = *it;
    const fs::path relative = entry.path().lexically_relative(root);
    // The iterator does not enter a linked folder: its files would go missing unnoticed.
    if (entry.is_symlink() || !(entry.is_directory() || entry.is_regular_file()))
      throw PublishError(relative.generic_string() + ": only regular files and folders can be published");
    if (entry.is_directory()) continue;
    const fs::path folder = relative.parent_path();
    ReleaseFile file{folder.generic_string(), relative.filename().string()};
    if (withDigests) file.digest = DigestOfFile(entry.path(), relative.generic_string());
    release.files.push_back(std::move(file));
  }
  if (error) throw PublishError(root.string() + ": " + error.message());

  const fs::path target = root / kTargetFileName;
  if (!fs::is_regular_file(target, error))
    throw PublishError(std::string(kTargetFileName) + ": not in " + root.string());
  release.targetSize = static_cast<std::int64_t>(fs::file_size(target, error));
  release.version = pe::ProbeFileVersion(target);
  if (release.version.empty())
    throw PublishError(std::string(kTargetFileName) +
                       ": has no FileVersion in a Chinese (PRC) Unicode version table (080404b0), so the updater could "
                       "never find it current");
  return release;
}
