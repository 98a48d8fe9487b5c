#include "download/bounded_buffer_sink.hpp"

#include <cstring>

bool BoundedBufferSink::Add(const char* data, std::size_t size) {
  if (full_ || size > capacity_ - stored_) {
    full_ = true;
    return true;
  }
  std::memcpy(buffer_ + stored_, data, size);
  stored_ += size;
  return true;
}
