#include "exact_size_sink.hpp"

bool ExactSizeSink::Open() {
  body_.clear();
  body_.reserve(size_);
  return true;
}

bool ExactSizeSink::Add(const char* data, std::size_t size) {
  if (size > size_ - body_.size()) return false;
  body_.append(data, size);
  return true;
}
