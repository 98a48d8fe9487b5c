// What the sinks share: the check of a body against what its hash line (or its caller) expects,
// and the new file that a body is written to and that goes again unless it is kept.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "crypto.hpp"
#include "file_digest.hpp"
#include "win_handle.hpp"

class ExpectedBody {
 public:
  // Exactly `size` bytes and, with `sha256`, those bytes' SHA-256.
  explicit ExpectedBody(std::uint64_t size, std::optional<Sha256Digest> sha256 = std::nullopt);
  explicit ExpectedBody(const FileDigest& digest);

  // The body starts afresh.
  void Restart();
  // Counts a chunk; false once the body is longer than expected: an endless body must not fill
  // the disk or the memory.
  bool Add(const char* data, std::size_t size);
  // Whether the body has exactly the expected size and SHA-256.
  bool Complete();

 private:
  std::uint64_t size_;
  std::optional<Sha256Digest> sha256_;
  std::optional<Sha256> hash_;
  std::uint64_t received_ = 0;
};

// A file created for writing without sharing, removed on every path unless it is kept. A failed
// write raises FileError naming `shown`, the file the user knows.
class NewFile {
 public:
  NewFile(std::string path, std::string shown) : path_(std::move(path)), shown_(std::move(shown)) {}
  ~NewFile() { Discard(); }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  bool Create();
  bool Created() const { return created_; }
  bool IsOpen() const { return static_cast<bool>(file_); }
  const std::string& path() const { return path_; }

  void Write(const char* data, std::size_t size);
  // Back to an empty file.
  void Truncate();
  void Flush();
  // Closes the file, which still goes unless it is kept.
  void Close() { file_.Reset(); }
  void Keep() { created_ = false; }
  void Discard();
  [[noreturn]] void Fail(DWORD error);

 private:
  std::string path_;
  std::string shown_;
  FileHandle file_;
  bool created_ = false;
};
