#include "release_patch.hpp"

#include <algorithm>
#include <map>

#include "durable_files.hpp"
#include "paths/install_paths.hpp"
#include "release_names.hpp"

namespace fs = std::filesystem;

namespace {

std::string PathOf(const ReleaseFile& file) { return file.folder.empty() ? file.name : file.folder + "/" + file.name; }

}  // namespace

Patch PatchSince(const Release& release, const fs::path& root, const Release& base, const fs::path& baseRoot) {
  // The files left out are served from the same version folder: their names must pass too.
  for (const ReleaseFile& file : release.files) ServedPath(PathOf(file));
  CheckCaseCollisions(release.files);
  std::map<std::u32string, const ReleaseFile*> baseFiles;
  std::map<std::u32string, std::string> baseFolders;
  for (const ReleaseFile& file : base.files) {
    baseFiles.emplace(CaseKey(PathOf(file)), &file);
    baseFolders.emplace(CaseKey(file.folder), file.folder);
  }

  Patch patch{{release.version, release.targetSize, {}, {}}, {}};
  std::map<std::u32string, std::string> folders;  // every folder of the release, as it spells them
  std::map<std::u32string, bool> kept;
  for (const ReleaseFile& file : release.files) {
    for (std::string folder = file.folder;; folder.resize(folder.rfind('/'))) {
      folders.emplace(CaseKey(folder), folder);
      if (folder.find('/') == std::string::npos) break;
    }
    const std::u32string key = CaseKey(PathOf(file));
    const auto old = baseFiles.find(key);
    kept[key] = true;
    const bool target = file.folder.empty() && file.name == kTargetFileName;
    if (target || old == baseFiles.end() || !SameBytes(root / PathOf(file), baseRoot / PathOf(*old->second)))
      patch.release.files.push_back(file);
  }
  // The installation spells a folder as the base did; the entries name it as the release does.
  patch.release.existingFolders.push_back("");
  for (const auto& [key, folder] : baseFolders) {
    const auto same = folders.find(key);
    patch.release.existingFolders.push_back(same == folders.end() ? folder : same->second);
  }
  for (const ReleaseFile& file : base.files)
    if (!kept.contains(CaseKey(PathOf(file)))) patch.removed.push_back(PathOf(file));
  std::sort(patch.removed.begin(), patch.removed.end());
  return patch;
}
