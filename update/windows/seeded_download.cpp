#include "seeded_download.hpp"

#include <windows.h>

#include <vector>

#include "block_matcher.hpp"
#include "http_transfer.hpp"
#include "phase_log.hpp"
#include "replacing_file_sink.hpp"

namespace {

constexpr std::size_t kCopyPiece = std::size_t{1} << 20;

// A file read in place through a handle someone else owns.
class HandleSeed : public SeedFile {
 public:
  explicit HandleSeed(HANDLE file) : file_(file) {
    LARGE_INTEGER size{};
    if (file_ && ::GetFileSizeEx(file_, &size)) size_ = static_cast<std::uint64_t>(size.QuadPart);
  }
  std::uint64_t Size() override { return size_; }
  std::size_t Read(std::uint64_t offset, unsigned char* data, std::size_t size) override {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!file_ || !::SetFilePointerEx(file_, at, nullptr, FILE_BEGIN)) return 0;
    std::size_t done = 0;
    while (done < size) {
      DWORD read = 0;
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - done, kCopyPiece));
      if (!::ReadFile(file_, data + done, want, &read, nullptr) || read == 0) break;
      done += read;
    }
    return done;
  }

 private:
  HANDLE file_;
  std::uint64_t size_ = 0;
};

// Appends `length` bytes of the seed from `offset` to the file; false when they cannot be read.
bool Copy(HandleSeed& seed, std::uint64_t offset, std::uint64_t length, ReplacingFileSink& file) {
  std::vector<unsigned char> piece(static_cast<std::size_t>(std::min<std::uint64_t>(length, kCopyPiece)));
  while (length > 0) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(length, piece.size()));
    if (seed.Read(offset, piece.data(), want) != want) return false;
    file.Add(reinterpret_cast<const char*>(piece.data()), want);
    offset += want;
    length -= want;
  }
  return true;
}

// A seed that is a prefix of the new file is kept, and the rest is one range; a longer one is
// of no use.
std::vector<AssemblyStep> ResumePlan(HandleSeed& seed, int index, std::uint64_t size) {
  const std::uint64_t have = seed.Size();
  if (have == 0 || have > size) return {};
  std::vector<AssemblyStep> plan{{index, 0, 0, have}};
  if (have < size) plan.push_back({-1, 0, have, size - have});
  return plan;
}

}  // namespace

bool HasSeed(const std::string& localPath) {
  for (const std::string& path : {ReplacingFileSink::TemporaryPath(localPath), ReplacingFileSink::SeedPath(localPath)})
    if (::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  return false;
}

int DownloadWithSeeds(const std::string& url, const std::string& localPath, const FileDigest& expected,
                      const std::function<std::optional<BlockMap>()>* map) {
  ReplacingFileSink file(localPath, &expected);
  if (!file.Open()) return 0;
  std::vector<HandleSeed> seeds{HandleSeed(file.OldFile()), HandleSeed(file.Seed())};
  std::vector<AssemblyStep> plan;
  if (map && (seeds[0].Size() > 0 || seeds[1].Size() > 0)) {
    if (const std::optional<BlockMap> blocks = (*map)()) {
      MarkPhase("map");
      const std::vector<BlockOrigin> origins = MatchBlocks(*blocks, {&seeds[0], &seeds[1]});
      MarkPhase("scan");
      plan = PlanAssembly(*blocks, origins);
    }
  } else if (!map) {
    plan = ResumePlan(seeds[1], 1, static_cast<std::uint64_t>(expected.size));
  }
  bool assembled = !plan.empty();
  for (const AssemblyStep& step : plan) {
    if (step.seed >= 0) {
      assembled = Copy(seeds[static_cast<std::size_t>(step.seed)], step.seedOffset, step.length, file);
    } else {
      const ByteRange range{step.offset, step.offset + step.length - 1, static_cast<std::uint64_t>(expected.size)};
      switch (FetchRange(url, range, file)) {
        case RangeAnswer::kPart: break;
        case RangeAnswer::kWhole: return 1;
        case RangeAnswer::kWholeFailed: return 0;
        case RangeAnswer::kRefused: assembled = false; break;
      }
    }
    if (!assembled) break;
  }
  if (assembled && file.Finish()) return 1;
  // The one whole download: the temporary file starts afresh, the old file is still held.
  return DownloadToSink(url, file);
}
