#include "update_run.hpp"

#include <vector>

#include "entry_safety.hpp"
#include "text.hpp"
#include "update_manifest.hpp"
#include "update_platform.hpp"

#ifndef UPDATE_SERVER_HOST
#error "UPDATE_SERVER_HOST must name the update server"
#endif

namespace {

constexpr std::size_t kManifestCapacity = 5000;

std::string ManifestBase() { return "http://" UPDATE_SERVER_HOST ":8081/update_go"; }

// Brings one entry's file into place; 0 when its folder cannot be had or the download fails.
int InstallEntry(UpdatePlatform& platform, const std::string& installDir, const std::string& url,
                 const ManifestFileEntry& entry) {
  const std::string remoteDir = text::Format("%s%s", url.c_str(), entry.from.c_str());
  const std::string localDir = text::Format("%s%s", installDir.c_str(), entry.to.c_str());
  const std::string localPath = text::Format("%s\\%s", localDir.c_str(), entry.name.c_str());
  const std::string remoteAddress = text::Format("%s/%s", remoteDir.c_str(), entry.name.c_str());
  if (!platform.IsDirectory(localDir) && !platform.MakeDirectory(localDir)) return 0;
  return platform.DownloadToFile(remoteAddress, localPath);
}

}  // namespace

std::string ManifestUrl() { return text::Format("%s/%s", ManifestBase().c_str(), "update.htm"); }

int UpdateRun(UpdatePlatform& platform) {
  // Without a known folder every path below would be relative to the working directory.
  const std::string installDir = platform.GetInstallDir();
  if (installDir.empty()) return 0;

  // One byte more than the capacity keeps a full body terminated.
  std::vector<char> buffer(kManifestCapacity + 1, '\0');
  if (!platform.FetchText(ManifestUrl(), buffer.data(), kManifestCapacity)) {
    platform.ShowFetchFailure(std::string(text::UntilNul({buffer.data(), buffer.size()})));
    return 0;
  }

  ManifestReader reader({buffer.data(), buffer.size()});
  UpdateManifest manifest;
  if (!reader.ReadHeader(manifest)) return 0;

  const std::string version = platform.GetTargetVersion();
  const std::int32_t size = platform.GetTargetFileSize();
  if (version == manifest.update_version && size == manifest.FileSize()) return 1;

  if (!reader.ReadFileCount(manifest)) return 0;
  const std::int32_t count = manifest.FileCount();
  for (std::int32_t i = 0; i < count; ++i) {
    ManifestFileEntry entry;
    if (!reader.ReadEntry(i, entry)) return 0;
    if (!IsSafeEntry(entry)) return 0;
    if (!InstallEntry(platform, installDir, manifest.update_url, entry)) return 0;
  }
  return 1;
}
