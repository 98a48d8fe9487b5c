// Where the body of a transfer goes. The transfer owns the connection; the sink owns the bytes.
#pragma once

#include <cstddef>

class TransferSink {
 public:
  virtual ~TransferSink() = default;

  // The response is good and its body is about to be read; false ends the transfer with failure.
  virtual bool Open() = 0;
  // Where the next chunk of at most `size` bytes may be read to spare a copy, or null for the
  // transfer's own buffer. Add is then given the chunk at that place.
  virtual char* ReadArea(std::size_t) { return nullptr; }
  // One chunk of the body; false ends the transfer with failure at once. A failed write raises
  // FileError.
  virtual bool Add(const char* data, std::size_t size) = 0;
  // The whole body has arrived; false when it cannot be kept.
  virtual bool Finish() = 0;
};
