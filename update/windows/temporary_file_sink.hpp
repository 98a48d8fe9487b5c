// Stores a body, checked against its hash line, in one file and nowhere else: the updater's own
// new file, which must not touch the running file it is to replace.
#pragma once

#include <cstdint>
#include <string>

#include "crypto.hpp"
#include "file_digest.hpp"
#include "transfer_sink.hpp"
#include "win_handle.hpp"

class TemporaryFileSink : public TransferSink {
 public:
  TemporaryFileSink(std::string path, const FileDigest& expected) : path_(std::move(path)), expected_(expected) {}
  // Removes the file unless it was finished.
  ~TemporaryFileSink() override { Discard(); }
  TemporaryFileSink(const TemporaryFileSink&) = delete;
  TemporaryFileSink& operator=(const TemporaryFileSink&) = delete;

  bool Open() override;
  // False once the body is longer than expected.
  bool Add(const char* data, std::size_t size) override;
  // Checks the size and hash and flushes the file to disk, then closes it.
  bool Finish() override;

 private:
  void Discard();
  [[noreturn]] void FailWrite(DWORD error);

  std::string path_;
  FileDigest expected_;
  Sha256 hash_;
  std::uint64_t received_ = 0;
  FileHandle file_;
  bool created_ = false;
};
