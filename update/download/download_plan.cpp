#include "download/download_plan.hpp"

namespace {

// A partial download that is a prefix of the new file is kept, and the rest is one range; a
// longer one is of no use.
std::vector<AssemblyStep> ResumeSteps(SeedFile& partial, std::uint64_t size) {
  const std::uint64_t have = partial.Size();
  if (have == 0 || have > size) return {};
  std::vector<AssemblyStep> steps{{1, 0, 0, have}};
  if (have < size) steps.push_back({-1, 0, have, size - have});
  return steps;
}

DownloadPlan Into(std::vector<AssemblyStep> steps) {
  if (steps.empty()) return {DownloadPlan::Next::kWholeInto, {}};
  return {DownloadPlan::Next::kAssemble, std::move(steps)};
}

}  // namespace

std::string ObjectAddress(std::string_view storeUrl, const Sha256Digest& sha256) {
  const std::string hex = HexOf(sha256);
  std::string address(storeUrl);
  address.append("/").append(hex, 0, 2).append("/").append(hex);
  return address;
}

std::string ServedAddress(const ServedRelease& release, std::string_view path, const FileDigest* digest) {
  if (release.store && digest) return ObjectAddress(*release.store, digest->sha256);
  std::string address(release.updateUrl);
  address += path;
  return address;
}

std::string EntryAddress(const ServedRelease& release, const ManifestFileEntry& entry, const FileDigest* digest) {
  return ServedAddress(release, entry.from + "/" + entry.name, digest);
}

std::string HelperFileAddress(const ServedRelease& release, const HelperFile& file) {
  return ServedAddress(release, file.from, &file.digest);
}

std::string ServedAddress(std::string_view updateUrl, std::string_view path) {
  return ServedAddress(ServedRelease{std::string(updateUrl), std::nullopt}, path, nullptr);
}

std::string EntryAddress(std::string_view updateUrl, const ManifestFileEntry& entry) {
  return EntryAddress(ServedRelease{std::string(updateUrl), std::nullopt}, entry, nullptr);
}

DownloadPlan PlanDownload(const FileToFetch& file) {
  using Next = DownloadPlan::Next;
  if (!file.expected) return {Next::kWhole, {}};
  if (!file.seeds) {
    // Without a map the old file is of no use: only a partial download can be resumed.
    const bool worthOpening = file.onDisk.partial || (file.hasMapLine && file.onDisk.oldFile);
    return {worthOpening ? Next::kOpenSeeds : Next::kWhole, {}};
  }
  const auto size = static_cast<std::uint64_t>(file.expected->size);
  if (!file.hasMapLine) return Into(ResumeSteps(file.seeds->Seed(1), size));
  if (file.seeds->Seed(0).Size() == 0 && file.seeds->Seed(1).Size() == 0) return {Next::kWholeInto, {}};
  if (!file.mapFetched) return {Next::kFetchMap, {}};
  if (!file.map) return {Next::kWholeInto, {}};
  const std::vector<BlockOrigin> origins = MatchBlocks(*file.map, {&file.seeds->Seed(0), &file.seeds->Seed(1)});
  return Into(PlanAssembly(*file.map, origins));
}

ByteRange RangeOf(const ServedObject& source, const AssemblyStep& step) {
  const std::uint64_t first = source.offset + step.offset;
  return {first, first + step.length - 1, source.size};
}

int CarryOut(const DownloadPlan& plan, const ServedObject& source, Replacement& replacement) {
  bool assembled = plan.next == DownloadPlan::Next::kAssemble && !plan.steps.empty();
  for (std::size_t i = 0; assembled && i < plan.steps.size(); ++i) {
    const AssemblyStep& step = plan.steps[i];
    if (step.seed >= 0) {
      assembled = replacement.Copy(step.seed, step.seedOffset, step.length);
    } else {
      switch (replacement.FetchRange(source.address, RangeOf(source, step))) {
        case RangeAnswer::kPart: break;
        case RangeAnswer::kWhole: return 1;
        case RangeAnswer::kWholeFailed: return 0;
        case RangeAnswer::kRefused: assembled = false; break;
      }
    }
  }
  if (assembled && replacement.Finish()) return 1;
  // The one whole download: the new file starts afresh, the old file is still held.
  if (source.length == 0) return replacement.FetchWhole(source.address);
  if (!replacement.Restart()) return 0;
  const RangeAnswer answer =
      replacement.FetchRange(source.address, {source.offset, source.offset + source.length - 1, source.size});
  return answer == RangeAnswer::kWhole || (answer == RangeAnswer::kPart && replacement.Finish()) ? 1 : 0;
}
