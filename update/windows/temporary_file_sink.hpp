// Stores a body, checked against its hash line, in one file and nowhere else: the updater's own
// new file, which must not touch the running file it is to replace.
#pragma once

#include <string>

#include "file_digest.hpp"
#include "sink_parts.hpp"
#include "download/transfer_sink.hpp"

class TemporaryFileSink : public TransferSink {
 public:
  TemporaryFileSink(const std::string& path, const FileDigest& expected) : file_(path, path), expected_(expected) {}

  // The file is removed unless it was finished.
  bool Open() override { return file_.Create(); }
  // False once the body is longer than expected.
  bool Add(const char* data, std::size_t size) override;
  // Checks the size and hash and flushes the file to disk, then closes it.
  bool Finish() override;

 private:
  NewFile file_;
  ExpectedBody expected_;
};
