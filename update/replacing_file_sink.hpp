// Stores a body beside its destination and puts it in place only once it is complete, so a
// failed download leaves the destination exactly as it was.
#pragma once

#include <string>

#include "transfer_sink.hpp"
#include "win_handle.hpp"

class ReplacingFileSink : public TransferSink {
 public:
  explicit ReplacingFileSink(std::string destination);
  ~ReplacingFileSink() override;
  ReplacingFileSink(const ReplacingFileSink&) = delete;
  ReplacingFileSink& operator=(const ReplacingFileSink&) = delete;

  // Holds an existing destination open for writing without sharing (it is not truncated), so a
  // file that is open elsewhere or read-only fails here, before any byte is read, and no one
  // else can open it during the transfer. Then creates the temporary file.
  bool Open() override;
  void Add(const char* data, std::size_t size) override;
  // Flushes the temporary file and moves it over the destination in one step.
  bool Finish() override;

  // The temporary file of a destination; a run killed mid-download leaves at most this one.
  static std::string TemporaryPath(const std::string& destination) { return destination + ".download"; }

 private:
  void Discard();
  [[noreturn]] void FailWrite(DWORD error);

  std::string destination_;
  std::string temporary_;
  FileHandle hold_;
  FileHandle file_;
  bool created_ = false;
};
