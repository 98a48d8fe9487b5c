#include "fuzz_platform.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "crypto.hpp"
#include "file_error.hpp"

namespace {

bool Matches(const std::string& bytes, const FileDigest& expected) {
  return bytes.size() == static_cast<std::size_t>(expected.size) && Sha256Of(bytes) == expected.sha256;
}

}  // namespace

void FailOracle(const std::string& what) {
  (void)std::fprintf(stderr, "oracle failed: %s\n", what.c_str());
  std::abort();
}

FuzzPlatform::FuzzPlatform(std::string installDir, std::string manifest)
    : installDir_(std::move(installDir)),
      install_(NormaliseWindowsPath(installDir_)),
      manifest_(std::move(manifest)),
      module_(NormaliseWindowsPath(installDir_ + "\\Merovast.exe")),
      aside_(NormaliseWindowsPath(installDir_ + "\\Merovast.exe.old")),
      temporary_(NormaliseWindowsPath(installDir_ + "\\Merovast.exe.download")),
      runningKey_(module_.Key()) {
  files_[runningKey_] = OldUpdater();
  // The installation folder and every folder above it exist.
  for (WindowsPath folder = install_; !folder.segments.empty(); folder = folder.Parent()) folders_.insert(folder.Key());
  folders_.insert(WindowsPath{install_.root, {}}.Key());
}

WindowsPath FuzzPlatform::Inside(const std::string& path, const char* operation) const {
  WindowsPath normal = NormaliseWindowsPath(path);
  if (!normal.Within(install_)) FailOracle(std::string(operation) + " outside " + installDir_ + ": " + path);
  return normal;
}

std::optional<std::string> FuzzPlatform::FileAt(const std::string& path) const {
  const auto it = files_.find(NormaliseWindowsPath(path).Key());
  if (it == files_.end()) return std::nullopt;
  return it->second;
}

int FuzzPlatform::FetchText(const std::string& url, char* buffer, std::size_t capacity) {
  fetches_.push_back(url);
  std::copy_n(manifest_.data(), std::min(capacity, manifest_.size()), buffer);
  return 1;
}

int FuzzPlatform::FetchExact(const std::string& url, std::size_t size, std::string& body) {
  indexFetches_.push_back(url);
  body = index_.substr(0, size);
  return index_.size() == size ? 1 : 0;
}

bool FuzzPlatform::DownloadFails(std::size_t index, const std::string& url, const FileDigest* expected,
                                 const std::string& path) {
  if (index != failAt_ && (!expected || Matches(BodyOf(url), *expected))) return false;
  firstFailure_ = std::min(firstFailure_, index);
  if (index == failAt_ && failure_ == Failure::kFileError) throw FileError(FileError::kDiskFull, path);
  return true;
}

int FuzzPlatform::DownloadToFile(const std::string& url, const std::string& localPath, const FileDigest* expected) {
  const WindowsPath path = Inside(localPath, "file written");
  const std::size_t index = downloads_.size();
  downloads_.push_back(url);
  if (DownloadFails(index, url, expected, localPath)) return 0;
  // A file needs its folder, and a folder cannot be overwritten by a file; a running image
  // cannot be written at all.
  if (!folders_.contains(path.Parent().Key()) || folders_.contains(path.Key()) || path.Key() == runningKey_) {
    firstFailure_ = std::min(firstFailure_, index);
    return 0;
  }
  files_[path.Key()] = BodyOf(url);
  CheckUpdater();
  return 1;
}

FileDigest FuzzPlatform::DigestOf(const std::string& bytes) {
  return {*Sha256Of(bytes), static_cast<std::int32_t>(bytes.size())};
}

std::string FuzzPlatform::PackBytes(const std::string& url, std::uint64_t offset, std::uint64_t length) {
  const std::string body = BodyOf(url);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = body[static_cast<std::size_t>((offset + i) % body.size())];
  return bytes;
}

// A file of a pack as it is written: its bytes, put in place by Finish.
class FuzzPlatform::PackedFile : public Replacement {
 public:
  PackedFile(FuzzPlatform& platform, std::string path, const FileDigest& expected)
      : platform_(platform), path_(std::move(path)), expected_(expected) {}
  SeedFile& Seed(int) override { return none_; }
  bool Copy(int, std::uint64_t, std::uint64_t) override { return false; }
  bool Append(const char* data, std::size_t size) override {
    if (bytes_.size() + size >
        std::min<std::uint64_t>(static_cast<std::uint64_t>(expected_.size), kLargestPackedFile)) {
      platform_.firstFailure_ = std::min(platform_.firstFailure_, platform_.downloads_.size() - 1);
      return false;
    }
    bytes_.append(data, size);
    return true;
  }
  bool Restart() override {
    bytes_.clear();
    return true;
  }
  RangeAnswer FetchRange(const std::string& url, const ByteRange& range) override {
    const std::size_t index = platform_.downloads_.size();
    platform_.downloads_.push_back(url);
    if (platform_.DownloadFails(index, url, nullptr, path_) || range.last - range.first >= kLargestPackedFile) {
      platform_.firstFailure_ = std::min(platform_.firstFailure_, index);
      return RangeAnswer::kRefused;
    }
    bytes_ += PackBytes(url, range.first, range.last - range.first + 1);
    return RangeAnswer::kPart;
  }
  int FetchWhole(const std::string&) override { return 0; }
  bool Finish() override { return platform_.PlacePacked(path_, bytes_, expected_); }

 private:
  struct NoSeed : SeedFile {
    std::uint64_t Size() override { return 0; }
    std::size_t Read(std::uint64_t, unsigned char*, std::size_t) override { return 0; }
  };
  FuzzPlatform& platform_;
  std::string path_;
  FileDigest expected_;
  std::string bytes_;
  NoSeed none_;
};

std::unique_ptr<Replacement> FuzzPlatform::OpenSeeds(const std::string& localPath, const FileDigest& expected) {
  Inside(localPath, "file written");
  return std::make_unique<PackedFile>(*this, localPath, expected);
}

bool FuzzPlatform::StreamObject(const std::string& url, const ByteRange& range, ObjectStream& stream) {
  const std::size_t index = downloads_.size();
  downloads_.push_back(url);
  // A failed write ends the run; a request not served would only be tried again file by file.
  if (index == failAt_ && failure_ == Failure::kFileError) {
    firstFailure_ = std::min(firstFailure_, index);
    throw FileError(FileError::kDiskFull, url);
  }
  if (range.last >= range.total || range.first > range.last) FailOracle("a range outside its pack: " + url);
  if (!stream.Start(range.first)) return false;
  for (std::uint64_t at = range.first; at <= range.last && !stream.Done(); at += 5000) {
    const std::string chunk = PackBytes(url, at, std::min<std::uint64_t>(5000, range.last + 1 - at));
    if (!stream.Add(chunk.data(), chunk.size())) return false;
  }
  return stream.Done();
}

bool FuzzPlatform::PlacePacked(const std::string& localPath, const std::string& bytes, const FileDigest& expected) {
  const WindowsPath path = Inside(localPath, "file written");
  const std::size_t index = downloads_.size() - 1;
  if (!Matches(bytes, expected) || !folders_.contains(path.Parent().Key()) || folders_.contains(path.Key()) ||
      path.Key() == runningKey_) {
    firstFailure_ = std::min(firstFailure_, index);
    return false;
  }
  files_[path.Key()] = bytes;
  CheckUpdater();
  return true;
}

int FuzzPlatform::DownloadToTemporary(const std::string& url, const std::string& temporaryPath,
                                      const FileDigest& expected) {
  const WindowsPath path = Inside(temporaryPath, "temporary file written");
  if (path.Key() != temporary_.Key()) FailOracle("the updater's new file is not its temporary file: " + temporaryPath);
  const std::size_t index = downloads_.size();
  downloads_.push_back(url);
  if (DownloadFails(index, url, &expected, temporaryPath)) return 0;
  files_[path.Key()] = BodyOf(url);
  checkedBodies_.insert(BodyOf(url));
  CheckUpdater();
  return 1;
}

bool FuzzPlatform::RenameFile(const std::string& from, const std::string& to) {
  const std::string source = Inside(from, "file renamed").Key(), target = Inside(to, "file renamed to").Key();
  const std::string module = module_.Key(), aside = aside_.Key(), temporary = temporary_.Key();
  if (!((source == module && target == aside) || (source == temporary && target == module) ||
        (source == aside && target == module)))
    FailOracle("a rename the replacement of the updater never makes: " + from + " -> " + to);
  if (!files_.contains(source) || files_.contains(target) || folders_.contains(target)) return false;
  files_[target] = files_[source];
  files_.erase(source);
  if (source == runningKey_) runningKey_ = target;
  moduleAside_ = source == module;
  CheckUpdater();
  return true;
}

bool FuzzPlatform::RemoveFile(const std::string& path) {
  const std::string key = Inside(path, "file removed").Key();
  if (key == runningKey_) return false;
  files_.erase(key);
  CheckUpdater();
  return true;
}

Removal FuzzPlatform::RemoveIfPublished(const std::string& path, const FileDigest& published) {
  const std::string key = Inside(path, "file removed for a removal line").Key();
  if (folders_.contains(key)) return Removal::kLeft;
  const auto it = files_.find(key);
  if (it == files_.end()) return Removal::kNothing;
  if (key == runningKey_) return Removal::kLeft;
  if (!Matches(it->second, published)) return Removal::kOtherBytes;
  removed_[key] = it->second;
  files_.erase(it);
  CheckUpdater();
  return Removal::kRemoved;
}

void FuzzPlatform::PlaceFile(const std::string& path, std::string bytes) {
  const WindowsPath file = NormaliseWindowsPath(path);
  if (!file.Within(install_) || file.segments.size() <= install_.segments.size() || folders_.contains(file.Key()) ||
      file.Key() == runningKey_)
    return;
  for (WindowsPath folder = file.Parent(); folder.Within(install_) && !folders_.contains(folder.Key());
       folder = folder.Parent())
    folders_.insert(folder.Key());
  files_[file.Key()] = std::move(bytes);
}

void FuzzPlatform::CheckUpdater() const {
  const auto running = files_.find(runningKey_);
  if (running == files_.end() || running->second != OldUpdater()) FailOracle("the running image changed");
  const auto module = files_.find(module_.Key());
  if (module == files_.end()) {
    if (!moduleAside_) FailOracle("the module path is empty outside the rename window");
  } else if (module->second != OldUpdater() && !checkedBodies_.contains(module->second)) {
    FailOracle("the module path holds bytes that did not pass a hash check");
  }
}

bool FuzzPlatform::IsFileCurrent(const std::string& localPath, const FileDigest& expected) {
  const auto it = files_.find(Inside(localPath, "file read").Key());
  return it != files_.end() && Matches(it->second, expected);
}

bool FuzzPlatform::IsDirectory(const std::string& path) { return folders_.contains(NormaliseWindowsPath(path).Key()); }

bool FuzzPlatform::MakeDirectory(const std::string& path) {
  const WindowsPath folder = Inside(path, "folder made");
  const std::string key = folder.Key();
  if (!folders_.contains(folder.Parent().Key()) || folders_.contains(key) || files_.contains(key)) return false;
  folders_.insert(key);
  ++foldersMade_;
  return true;
}

void FuzzPlatform::ShowFetchFailure(const std::string& message) {
  FailOracle("a fetch that succeeded was reported as failed: " + message);
}
