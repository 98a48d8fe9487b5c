// Keeps the leading bytes of a body in a caller's buffer of fixed capacity.
#pragma once

#include <cstddef>

#include "download/transfer_sink.hpp"

class BoundedBufferSink : public TransferSink {
 public:
  BoundedBufferSink(char* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}

  bool Open() override { return true; }
  // Stores whole chunks while they fit. Once one does not, nothing after it is stored either,
  // so the buffer always holds a prefix of the body.
  bool Add(const char* data, std::size_t size) override;
  bool Finish() override { return true; }

  std::size_t stored() const { return stored_; }

 private:
  char* buffer_;
  std::size_t capacity_;
  std::size_t stored_ = 0;
  bool full_ = false;
};
