// Stores a body beside its destination and puts it in place only once it is complete, so a
// failed download leaves the destination exactly as it was.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "crypto.hpp"
#include "file_digest.hpp"
#include "transfer_sink.hpp"
#include "win_handle.hpp"

class ReplacingFileSink : public TransferSink {
 public:
  // With `expected`, only a body of exactly that size and SHA-256 is put in place.
  explicit ReplacingFileSink(std::string destination, const FileDigest* expected = nullptr);
  ~ReplacingFileSink() override;
  ReplacingFileSink(const ReplacingFileSink&) = delete;
  ReplacingFileSink& operator=(const ReplacingFileSink&) = delete;

  // Holds an existing destination open for writing without sharing (it is not truncated), so a
  // file that is open elsewhere or read-only fails here, before any byte is read, and no one
  // else can open it during the transfer. Then creates the temporary file.
  bool Open() override;
  // False once the body is longer than expected.
  bool Add(const char* data, std::size_t size) override;
  // Checks the expected size and hash, flushes the temporary file and moves it over the
  // destination in one step.
  bool Finish() override;

  // The temporary file of a destination; a run killed mid-download leaves at most this one.
  static std::string TemporaryPath(const std::string& destination) { return destination + ".download"; }

 private:
  void WriteBuffered();
  void Discard();
  [[noreturn]] void FailWrite(DWORD error);

  std::string destination_;
  std::string temporary_;
  FileHandle hold_;
  FileHandle file_;
  bool created_ = false;
  std::optional<FileDigest> expected_;
  std::optional<Sha256> hash_;
  std::uint64_t received_ = 0;
  std::vector<char> buffer_;
};
