#include "exact_size_sink.hpp"

bool ExactSizeSink::Open() {
  body_.clear();
  expected_.Restart();
  // The size was checked against a limit by the caller, so one allocation holds the whole body.
  body_.reserve(size_);
  return true;
}

bool ExactSizeSink::Add(const char* data, std::size_t size) {
  if (!expected_.Add(data, size)) return false;
  body_.append(data, size);
  return true;
}
