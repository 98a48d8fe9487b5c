// The whole update run over an arbitrary manifest, against FuzzPlatform. The input is the
// manifest up to its first zero byte; the bytes after it set up the installation:
//   [0] bit 0: the target has the manifest's version, bit 1: its size; bits 2-3: which folder
//   [1] bit 7: one download fails, the one numbered by bits 0-5; bit 6: with a FileError
// After each run, what the run asked for is held against the manifest as ManifestReader reads it.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "entry_safety.hpp"
#include "file_error.hpp"
#include "fuzz_platform.hpp"
#include "update_manifest.hpp"
#include "update_run.hpp"

namespace {

// The run reads this much of the manifest's body.
constexpr std::size_t kManifestCapacity = 5000;

// Install folders as the probe gives them: plain, double-byte names (the last ending in a
// trail byte 0x5C, which is no separator) and a network share.
constexpr std::array<std::string_view, 4> kInstallDirs{
    "D:\\Game",
    "C:\\Program Files (x86)\\\xD3\xCE\xCF\xB7",
    "E:\\x\x95\x5C",
    "\\\\server\\share\\app",
};

// The manifest as the reader sees it: the entries it would hand out in order, as far as the
// count goes, up to the first one it cannot read or that IsSafeEntry refuses.
struct ReaderView {
  bool header = false;
  UpdateManifest manifest;
  bool counted = false;
  std::vector<ManifestFileEntry> entries;
  bool refused = false;
};

ReaderView Read(std::string_view body) {
  ReaderView view;
  ManifestReader reader(body);
  view.header = reader.ReadHeader(view.manifest);
  if (!view.header) return view;
  view.counted = reader.ReadFileCount(view.manifest);
  if (!view.counted) return view;
  for (std::int32_t i = 0; i < view.manifest.FileCount(); ++i) {
    ManifestFileEntry entry;
    if (!reader.ReadEntry(i, entry) || !IsSafeEntry(entry)) {
      view.refused = true;
      break;
    }
    view.entries.push_back(std::move(entry));
  }
  return view;
}

std::string RemoteAddress(const std::string& url, const ManifestFileEntry& entry) {
  return url + entry.from + "/" + entry.name;
}

std::string LocalPath(const std::string& installDir, const ManifestFileEntry& entry) {
  return installDir + entry.to + "\\" + entry.name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string_view served = input.substr(0, nul);
  const std::string_view setup = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
  const auto setupByte = [&setup](std::size_t i) { return i < setup.size() ? static_cast<std::uint8_t>(setup[i]) : 0; };

  const ReaderView view = Read(served.substr(0, kManifestCapacity));
  const std::string installDir(kInstallDirs[(setupByte(0) >> 2) % kInstallDirs.size()]);
  FuzzPlatform platform(installDir, std::string(served));
  platform.SetTarget(setupByte(0) & 1 ? view.manifest.update_version : "",
                     setupByte(0) & 2 ? view.manifest.FileSize() : -1);
  const std::size_t failAt = setupByte(1) & 0x80 ? setupByte(1) & 0x3F : SIZE_MAX;
  if (failAt != SIZE_MAX)
    platform.FailDownload(failAt,
                          setupByte(1) & 0x40 ? FuzzPlatform::Failure::kFileError : FuzzPlatform::Failure::kNotServed);

  int result = -1;
  try {
    result = UpdateRun(platform);
  } catch (const FileError&) {
    // A failed write ends the run this way; the checks below still hold.
  }

  if (platform.fetches() != std::vector<std::string>{ManifestUrl()}) FailOracle("the manifest is not fetched once");
  const std::vector<std::string>& downloads = platform.downloads();
  const bool current = view.header && platform.GetTargetVersion() == view.manifest.update_version &&
                       platform.GetTargetFileSize() == view.manifest.FileSize();
  const std::size_t count = view.counted ? static_cast<std::size_t>(std::max(view.manifest.FileCount(), 0)) : 0;
  if (!view.header || current) {
    if (!downloads.empty()) FailOracle("a download without an out-of-date target");
    if (result != (view.header ? 1 : 0)) FailOracle("wrong result without downloads");
    return 0;
  }
  if (downloads.size() > count) FailOracle("more downloads than entries");
  // The requests follow the reader's entries in order and stop at the first one it refuses.
  if (downloads.size() > view.entries.size()) FailOracle("a download past the entries the reader accepts");
  for (std::size_t i = 0; i < downloads.size(); ++i)
    if (downloads[i] != RemoteAddress(view.manifest.update_url, view.entries[i]))
      FailOracle("download " + std::to_string(i) + " is not the reader's entry: " + downloads[i]);

  // A failed download ends the run with failure, whatever follows it.
  if (failAt < downloads.size() && (result == 1 || downloads.size() != failAt + 1))
    FailOracle("the run went on or succeeded after download " + std::to_string(failAt) + " failed");

  if (result == 1) {
    if (!view.counted || view.refused || view.entries.size() != count)
      FailOracle("success though the reader refuses the manifest");
    // Each file holds what was served for its last listing, however the listings spell its path.
    std::map<std::string, std::pair<std::string, std::string>> expected;
    for (const ManifestFileEntry& entry : view.entries) {
      const std::string path = LocalPath(installDir, entry);
      expected[NormaliseWindowsPath(path).Key()] = {
          path, FuzzPlatform::BodyOf(RemoteAddress(view.manifest.update_url, entry))};
    }
    for (const auto& [key, file] : expected)
      if (platform.FileAt(file.first) != file.second) FailOracle("success without the served bytes in " + file.first);
  }
  return 0;
}
