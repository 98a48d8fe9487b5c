#include "fuzz_platform.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "crypto.hpp"
#include "file_error.hpp"

namespace {

bool Matches(const std::string& bytes, const FileDigest& expected) {
  Sha256 hash;
  hash.Add(bytes.data(), bytes.size());
  return bytes.size() == static_cast<std::size_t>(expected.size) && hash.Finish() == expected.sha256;
}

}  // namespace

void FailOracle(const std::string& what) {
  (void)std::fprintf(stderr, "oracle failed: %s\n", what.c_str());
  std::abort();
}

FuzzPlatform::FuzzPlatform(std::string installDir, std::string manifest)
    : installDir_(std::move(installDir)), install_(NormaliseWindowsPath(installDir_)), manifest_(std::move(manifest)) {
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

int FuzzPlatform::DownloadToFile(const std::string& url, const std::string& localPath, const FileDigest* expected) {
  const WindowsPath path = Inside(localPath, "file written");
  const std::size_t index = downloads_.size();
  downloads_.push_back(url);
  if (index == failAt_ || (expected && !Matches(BodyOf(url), *expected))) {
    firstFailure_ = std::min(firstFailure_, index);
    if (index == failAt_ && failure_ == Failure::kFileError) throw FileError(FileError::kDiskFull, localPath);
    return 0;
  }
  // A file needs its folder, and a folder cannot be overwritten by a file.
  if (!folders_.contains(path.Parent().Key()) || folders_.contains(path.Key())) {
    firstFailure_ = std::min(firstFailure_, index);
    return 0;
  }
  files_[path.Key()] = BodyOf(url);
  return 1;
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
