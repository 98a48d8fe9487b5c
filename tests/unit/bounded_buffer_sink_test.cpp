#include "download/bounded_buffer_sink.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Feeds `body` in chunks of the given sizes and returns what the buffer holds.
std::string Store(const std::string& body, const std::vector<std::size_t>& chunks, std::size_t capacity) {
  std::vector<char> buffer(capacity + 1, '\0');
  BoundedBufferSink sink(buffer.data(), capacity);
  std::size_t at = 0;
  for (std::size_t size : chunks) {
    sink.Add(body.data() + at, size);
    at += size;
  }
  return std::string(buffer.data(), sink.stored());
}

}  // namespace

TEST(BoundedBufferSink, KeepsAPrefixOfTheBodyAndNeverSplices) {
  const std::string body = "0123456789abcdef";
  EXPECT_EQ(Store(body, {4, 4, 4, 4}, 16), body) << "a body of exactly the capacity is stored whole";
  EXPECT_EQ(Store(body, {6, 6, 4}, 10), "012345") << "the chunk that does not fit ends the storing";
  EXPECT_EQ(Store(body, {6, 8, 2}, 10), "012345") << "a later chunk that would fit is not spliced on";
  EXPECT_EQ(Store(body, {16}, 10), "");
  EXPECT_EQ(Store(body, {0, 5, 0, 5}, 10), "0123456789");
}
