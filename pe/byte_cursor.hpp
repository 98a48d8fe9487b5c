// Bounded little-endian reading of untrusted bytes. A read past the end fails instead of
// leaving the buffer; the cursor then stays failed, so a parser can read a whole record
// and check once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace pe {

using Bytes = std::span<const std::uint8_t>;

// [offset, offset + length) of `data`, when it lies wholly inside.
inline std::optional<Bytes> Slice(Bytes data, std::size_t offset, std::size_t length) {
  if (offset > data.size() || length > data.size() - offset) return std::nullopt;
  return data.subspan(offset, length);
}

class ByteCursor {
 public:
  explicit ByteCursor(Bytes data, std::size_t position = 0) : data_(data), position_(position) {
    if (position > data.size()) Fail();
  }

  std::uint8_t U8() { return static_cast<std::uint8_t>(Number(1)); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Number(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Number(4)); }
  std::uint64_t U64() { return Number(8); }
  std::int16_t I16() { return static_cast<std::int16_t>(U16()); }

  // UTF-16 text up to its terminating zero, which is consumed. Fails without a terminator.
  std::u16string Utf16z() {
    std::u16string text;
    for (;;) {
      const std::uint16_t unit = U16();
      if (!ok_ || unit == 0) return ok_ ? text : std::u16string();
      text.push_back(static_cast<char16_t>(unit));
    }
  }

  // Narrow text up to its terminating zero, which is consumed. Fails without a terminator.
  std::string Asciiz() {
    std::string text;
    for (;;) {
      const std::uint8_t byte = U8();
      if (!ok_ || byte == 0) return ok_ ? text : std::string();
      text.push_back(static_cast<char>(byte));
    }
  }

  Bytes Raw(std::size_t length) {
    const auto part = Slice(data_, position_, length);
    if (!ok_ || !part) {
      Fail();
      return {};
    }
    position_ += length;
    return *part;
  }

  void Skip(std::size_t length) { Raw(length); }

  // Moves to the next multiple of `alignment`, counted from the start of the data.
  void Align(std::size_t alignment) {
    const std::size_t rest = position_ % alignment;
    if (rest != 0) Skip(alignment - rest);
  }

  void Fail() {
    ok_ = false;
    position_ = data_.size();
  }

  bool ok() const { return ok_; }
  std::size_t position() const { return position_; }
  std::size_t remaining() const { return data_.size() - position_; }

 private:
  std::uint64_t Number(std::size_t width) {
    const Bytes part = Raw(width);
    std::uint64_t value = 0;
    for (std::size_t i = part.size(); i-- > 0;) value = (value << 8) | part[i];
    return value;
  }

  Bytes data_;
  std::size_t position_;
  bool ok_ = true;
};

}  // namespace pe
