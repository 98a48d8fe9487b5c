// An in-memory update server and disk for driving the update run.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "crypto.hpp"
#include "file_error.hpp"
#include "text/text.hpp"
#include "update_platform.hpp"

class FakePlatform : public UpdatePlatform {
 public:
  // Server: bodies by URL; an URL that is not served fails its transfer.
  std::map<std::string, std::string> served;
  // Disk: folders that exist and files with their bytes, by full path.
  std::set<std::string> folders{"D:\\app"};
  std::map<std::string, std::string> files;
  // The installation as the probe reports it.
  std::string installDir = "D:\\app";
  std::string targetVersion;
  std::int32_t targetSize = -1;
  // A download to this path raises the disk-full file error.
  std::string diskFullAt;

  // What the server saw, in order, and the boxes shown.
  std::vector<std::string> requests;
  std::vector<std::string> boxes;

  int FetchText(const std::string& url, char* buffer, std::size_t capacity) override {
    requests.push_back(url);
    auto it = served.find(url);
    if (it == served.end()) return 0;
    std::copy_n(it->second.data(), std::min(capacity, it->second.size()), buffer);
    return 1;
  }

  int FetchExact(const std::string& url, std::size_t size, std::string& body) override {
    requests.push_back(url);
    auto it = served.find(url);
    if (it == served.end()) return 0;
    body = it->second.substr(0, size);
    return it->second.size() == size ? 1 : 0;
  }

  // Seeds as the updater finds them: the file at the path, and NAME.download of a killed run,
  // which becomes NAME.seed once opened, or an earlier NAME.seed. A range request shows as
  // "URL bytes=FIRST-LAST"; a server in `wholeForRanges` answers ranges with the whole body.
  SeedsOnDisk FindSeeds(const std::string& localPath) override {
    return {files.contains(localPath), files.contains(localPath + ".download") || files.contains(localPath + ".seed")};
  }
  std::unique_ptr<Replacement> OpenSeeds(const std::string& localPath, const FileDigest& expected) override {
    if (localPath == running) return nullptr;
    if (auto partial = files.find(localPath + ".download"); partial != files.end()) {
      files[localPath + ".seed"] = partial->second;
      files.erase(partial);
    }
    return std::make_unique<MemoryReplacement>(*this, localPath, expected);
  }
  bool wholeForRanges = false;

  // How the server answers a request that carries several files of a pack; each files' own
  // range afterwards is answered rightly.
  enum class StreamAnswer { kRight, kWhole, kRefused, kShifted, kShort };
  StreamAnswer streamAnswer = StreamAnswer::kRight;
  bool StreamObject(const std::string& url, const ByteRange& range, ObjectStream& stream) override {
    const bool whole = range.first == 0 && range.last + 1 == range.total;
    requests.push_back(whole ? url
                             : text::Format("%s bytes=%llu-%llu", url.c_str(),
                                            static_cast<unsigned long long>(range.first),
                                            static_cast<unsigned long long>(range.last)));
    auto it = served.find(url);
    if (it == served.end() || streamAnswer == StreamAnswer::kRefused) return false;
    std::string_view body = it->second;
    std::uint64_t start = 0;
    if (!whole && streamAnswer != StreamAnswer::kWhole) {
      start = range.first + (streamAnswer == StreamAnswer::kShifted ? 1 : 0);
      body = body.substr(start, range.last - range.first + 1);
    }
    if (streamAnswer == StreamAnswer::kShort) body.remove_suffix(1);
    if (!stream.Start(start)) return false;
    // Chunks of an odd size, so that files start and end inside them.
    for (std::size_t at = 0; at < body.size() && !stream.Done(); at += 7)
      if (!stream.Add(body.data() + at, std::min<std::size_t>(7, body.size() - at))) return false;
    return stream.Done();
  }

  struct MemorySeed : SeedFile {
    explicit MemorySeed(std::string b) : bytes(std::move(b)) {}
    std::uint64_t Size() override { return bytes.size(); }
    std::size_t Read(std::uint64_t offset, unsigned char* data, std::size_t size) override {
      if (offset >= bytes.size()) return 0;
      const std::size_t n = std::min<std::size_t>(size, bytes.size() - offset);
      std::copy_n(bytes.data() + offset, n, data);
      return n;
    }
    std::string bytes;
  };

  class MemoryReplacement : public Replacement {
   public:
    MemoryReplacement(FakePlatform& fake, std::string path, const FileDigest& expected)
        : fake_(fake), path_(std::move(path)), expected_(expected) {
      for (const std::string& seed : {path_, path_ + ".seed"})
        seeds_.emplace_back(fake_.files.contains(seed) ? fake_.files[seed] : std::string());
    }
    SeedFile& Seed(int index) override { return seeds_[static_cast<std::size_t>(index)]; }
    bool Append(const char* data, std::size_t size) override {
      assembled_.append(data, size);
      return assembled_.size() <= static_cast<std::size_t>(expected_.size);
    }
    bool Restart() override {
      assembled_.clear();
      return true;
    }
    bool Copy(int index, std::uint64_t offset, std::uint64_t length) override {
      assembled_ += seeds_[static_cast<std::size_t>(index)].bytes.substr(offset, length);
      return true;
    }
    RangeAnswer FetchRange(const std::string& url, const ByteRange& range) override {
      fake_.requests.push_back(text::Format("%s bytes=%llu-%llu", url.c_str(),
                                            static_cast<unsigned long long>(range.first),
                                            static_cast<unsigned long long>(range.last)));
      auto it = fake_.served.find(url);
      if (it == fake_.served.end()) return RangeAnswer::kRefused;
      if (fake_.wholeForRanges) {
        assembled_ = it->second;
        return Finish() ? RangeAnswer::kWhole : RangeAnswer::kWholeFailed;
      }
      assembled_ += it->second.substr(range.first, range.last - range.first + 1);
      return RangeAnswer::kPart;
    }
    int FetchWhole(const std::string& url) override {
      if (!fake_.DownloadToFile(url, path_, &expected_)) return 0;
      fake_.files.erase(path_ + ".seed");
      return 1;
    }
    bool Finish() override {
      if (!Matches(assembled_, expected_)) return false;
      fake_.files[path_] = assembled_;
      fake_.files.erase(path_ + ".seed");
      return true;
    }

   private:
    FakePlatform& fake_;
    std::string path_;
    FileDigest expected_;
    std::vector<MemorySeed> seeds_;
    std::string assembled_;
  };

  int DownloadToFile(const std::string& url, const std::string& localPath, const FileDigest* expected) override {
    requests.push_back(url);
    const auto slash = localPath.rfind('\\');
    if (!folders.contains(localPath.substr(0, slash)) || localPath == running) return 0;
    if (localPath == diskFullAt) throw FileError(FileError::kDiskFull, localPath);
    auto it = served.find(url);
    if (it == served.end() || (expected && !Matches(it->second, *expected))) return 0;
    files[localPath] = it->second;
    return 1;
  }

  bool IsFileCurrent(const std::string& localPath, const FileDigest& expected) override {
    auto it = files.find(localPath);
    return it != files.end() && Matches(it->second, expected);
  }

  // Real signatures are checked against the publisher's signing elsewhere; here the run's use of
  // the answer counts, and which text it asked about.
  bool VerifySignature(std::string_view message, const Signature&, const PublicKey& key) override {
    signedTexts.emplace_back(message);
    return signatureValid && (signingKey.empty() || key == signingKey.front());
  }
  bool signatureValid = false;
  std::vector<PublicKey> signingKey;  // when set, the one key the signature holds for
  std::vector<std::string> signedTexts;

  static FileDigest DigestOf(const std::string& bytes) {
    return {*Sha256Of(bytes), static_cast<std::int32_t>(bytes.size())};
  }
  static bool Matches(const std::string& bytes, const FileDigest& expected) { return DigestOf(bytes) == expected; }

  std::string GetTargetVersion() override { return targetVersion; }
  std::int32_t GetTargetFileSize() override { return targetSize; }
  std::string GetInstallDir() override { return installDir; }
  // The system clock: 2026-12-07T12:00:00Z.
  std::int64_t utcSeconds = 1796644800;
  std::int64_t GetUtcSeconds() override { return utcSeconds; }

  bool IsDirectory(const std::string& path) override { return folders.contains(path); }
  bool MakeDirectory(const std::string& path) override {
    const auto slash = path.rfind('\\');
    if (slash == std::string::npos || !folders.contains(path.substr(0, slash))) return false;
    return folders.insert(path).second;
  }

  void ShowFetchFailure(const std::string& message) override { boxes.push_back(message); }

  // The running updater (empty: none known): it cannot be written or removed, only renamed.
  std::string running;
  // Files another process holds open: neither removed nor renamed.
  std::set<std::string> held;
  std::vector<std::string> renames;

  std::string GetModulePath() override { return running.empty() ? "" : "D:\\app\\Merovast.exe"; }
  int DownloadToTemporary(const std::string& url, const std::string& path, const FileDigest& expected) override {
    requests.push_back(url);
    auto it = served.find(url);
    if (it == served.end() || !Matches(it->second, expected) || path == running) return 0;
    files[path] = it->second;
    return 1;
  }
  bool RenameFile(const std::string& from, const std::string& to) override {
    if (!files.contains(from) || files.contains(to) || held.contains(from)) return false;
    files[to] = files[from];
    files.erase(from);
    if (from == running) running = to;
    renames.push_back(from + " -> " + to);
    return true;
  }
  // A folder or a held file is left; otherwise the file goes only with the published bytes.
  Removal RemoveIfPublished(const std::string& path, const FileDigest& published) override {
    if (folders.contains(path) || held.contains(path)) return Removal::kLeft;
    const auto it = files.find(path);
    if (it == files.end()) return Removal::kNothing;
    if (!Matches(it->second, published)) return Removal::kOtherBytes;
    files.erase(it);
    return Removal::kRemoved;
  }
  bool RemoveFile(const std::string& path) override {
    if (files.contains(path) && (path == running || held.contains(path))) return false;
    files.erase(path);
    return true;
  }
};
