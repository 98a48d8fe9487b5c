// Keeps a body of one known size in memory: the helper files a manifest names with their size.
#pragma once

#include <cstddef>
#include <string>

#include "transfer_sink.hpp"

class ExactSizeSink : public TransferSink {
 public:
  ExactSizeSink(std::string& body, std::size_t size) : body_(body), size_(size) {}

  bool Open() override;
  // False, ending the transfer, as soon as the body grows past the size.
  bool Add(const char* data, std::size_t size) override;
  bool Finish() override { return body_.size() == size_; }

 private:
  std::string& body_;
  std::size_t size_;
};
