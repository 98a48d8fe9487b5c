// Where the body of a request over part of an object goes when it carries several files: the
// transfer says where in the object the body starts and hands over its chunks, and stops reading
// once the stream has every byte it wants.
#pragma once

#include <cstddef>
#include <cstdint>

class ObjectStream {
 public:
  virtual ~ObjectStream() = default;

  // The body starts at byte `offset` of the object (0 for a whole body); false ends the transfer.
  virtual bool Start(std::uint64_t offset) = 0;
  // One chunk of the body; false ends the transfer at once. A failed write raises FileError.
  virtual bool Add(const char* data, std::size_t size) = 0;
  // Every byte the stream wants has arrived: the rest of the body is not read.
  virtual bool Done() const = 0;
};
