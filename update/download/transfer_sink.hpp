// Where the body of a transfer goes. The transfer owns the connection; the sink owns the bytes.
#pragma once

#include <cstddef>

class TransferSink {
 public:
  virtual ~TransferSink() = default;

  // The response is good and its body is about to be read; false ends the transfer with failure.
  virtual bool Open() = 0;
  // One chunk of the body; false ends the transfer with failure at once. A failed write raises
  // FileError.
  virtual bool Add(const char* data, std::size_t size) = 0;
  // The whole body has arrived; false when it cannot be kept.
  virtual bool Finish() = 0;
};
