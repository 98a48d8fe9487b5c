#include "seeded_download.hpp"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "http_transfer.hpp"
#include "phase_log.hpp"
#include "replacing_file_sink.hpp"

namespace {

constexpr std::size_t kCopyPiece = std::size_t{1} << 20;

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

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

// The seeds are read for the map's scan from the map's arrival until the first step is carried
// out; the phase log shows the scan between the two marks.
class WindowsReplacement : public Replacement {
  // A seed as the planner reads it: its first read starts the scan.
  class ScannedSeed : public SeedFile {
   public:
    ScannedSeed(WindowsReplacement& owner, int index) : owner_(owner), index_(static_cast<std::size_t>(index)) {}
    std::uint64_t Size() override { return owner_.seeds_[index_].Size(); }
    std::size_t Read(std::uint64_t offset, unsigned char* data, std::size_t size) override {
      owner_.Scanning();
      return owner_.seeds_[index_].Read(offset, data, size);
    }

   private:
    WindowsReplacement& owner_;
    std::size_t index_;
  };

 public:
  WindowsReplacement(const std::string& localPath, const FileDigest& expected) : file_(localPath, &expected) {}

  bool Open() {
    if (!file_.Open()) return false;
    seeds_.emplace_back(file_.OldFile());
    seeds_.emplace_back(file_.Seed());
    return true;
  }

  SeedFile& Seed(int index) override { return scanned_[static_cast<std::size_t>(index)]; }
  bool Copy(int index, std::uint64_t offset, std::uint64_t length) override {
    Carrying();
    HandleSeed& seed = seeds_[static_cast<std::size_t>(index)];
    std::vector<unsigned char> piece(static_cast<std::size_t>(std::min<std::uint64_t>(length, kCopyPiece)));
    while (length > 0) {
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(length, piece.size()));
      if (seed.Read(offset, piece.data(), want) != want) return false;
      file_.Add(reinterpret_cast<const char*>(piece.data()), want);
      offset += want;
      length -= want;
    }
    return true;
  }
  bool Append(const char* data, std::size_t size) override {
    Carrying();
    return file_.Add(data, size);
  }
  bool Restart() override { return file_.Open(); }
  RangeAnswer FetchRange(const std::string& address, const ByteRange& range) override {
    Carrying();
    return ::FetchRange(address, range, file_);
  }
  int FetchWhole(const std::string& address) override {
    Carrying();
    return DownloadToSink(address, file_);
  }
  bool Finish() override {
    Carrying();
    return file_.Finish();
  }

 private:
  void Scanning() {
    if (!scanning_ && !carrying_) MarkPhase("map");
    scanning_ = true;
  }
  void Carrying() {
    if (scanning_ && !carrying_) MarkPhase("scan");
    carrying_ = true;
  }

  ReplacingFileSink file_;
  std::vector<HandleSeed> seeds_;
  ScannedSeed scanned_[2]{{*this, 0}, {*this, 1}};
  bool scanning_ = false;
  bool carrying_ = false;
};

}  // namespace

SeedsOnDisk FindSeeds(const std::string& localPath) {
  return {Exists(localPath),
          Exists(ReplacingFileSink::TemporaryPath(localPath)) || Exists(ReplacingFileSink::SeedPath(localPath))};
}

std::unique_ptr<Replacement> OpenSeeds(const std::string& localPath, const FileDigest& expected) {
  auto replacement = std::make_unique<WindowsReplacement>(localPath, expected);
  if (!replacement->Open()) return nullptr;
  return replacement;
}
