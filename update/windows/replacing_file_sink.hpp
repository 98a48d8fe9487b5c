// Stores a body beside its destination and puts it in place only once it is complete, so a
// failed download leaves the destination exactly as it was. The old file and a partial
// download of a killed run stay readable meanwhile, as seeds of the new body.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "file_digest.hpp"
#include "sink_parts.hpp"
#include "download/transfer_sink.hpp"
#include "win_handle.hpp"

class ReplacingFileSink : public TransferSink {
 public:
  // With `expected`, only a body of exactly that size and SHA-256 is put in place.
  explicit ReplacingFileSink(std::string destination, const FileDigest* expected = nullptr);

  // Holds an existing destination open for reading and writing without sharing (it is not
  // truncated), so a file that is open elsewhere or read-only fails here, before any byte is
  // read, and no one else can open it during the transfer. A temporary file left by a killed run
  // becomes the seed before the temporary file is created anew. Opened again, the body starts
  // afresh.
  bool Open() override;
  // False once the body is longer than expected.
  bool Add(const char* data, std::size_t size) override;
  // Checks the expected size and hash, flushes the temporary file and moves it over the
  // destination in one step; the seed goes once the file is in place.
  bool Finish() override;

  // After Open: the old file and the seed, readable; null when there is none.
  HANDLE OldFile() const { return hold_.get(); }
  HANDLE Seed() const { return seed_.get(); }

  // The temporary file of a destination; a run killed mid-download leaves at most this one.
  static std::string TemporaryPath(const std::string& destination) { return destination + ".download"; }
  // Where a killed run's temporary file waits to serve the next download as a seed.
  static std::string SeedPath(const std::string& destination) { return destination + ".seed"; }

 private:
  void WriteBuffered();

  std::string destination_;
  FileHandle hold_;
  FileHandle seed_;
  NewFile file_;  // the temporary file
  std::optional<ExpectedBody> expected_;
  std::vector<char> buffer_;
};
