// Keeps a whole body in memory when it is exactly the size the caller was told to expect.
#pragma once

#include <cstddef>
#include <string>

#include "sink_parts.hpp"
#include "download/transfer_sink.hpp"

class ExactSizeSink : public TransferSink {
 public:
  ExactSizeSink(std::string& body, std::size_t size) : body_(body), size_(size), expected_(size) {}

  bool Open() override;
  // Refuses the chunk that would take the body past the size, so a longer body ends the transfer
  // before more of it arrives.
  bool Add(const char* data, std::size_t size) override;
  // A shorter body is a failure too.
  bool Finish() override { return expected_.Complete(); }

 private:
  std::string& body_;
  std::size_t size_;
  ExpectedBody expected_;
};
