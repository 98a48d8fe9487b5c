#include "manifest/version_numbers.hpp"

std::optional<VersionNumbers> ReadVersionNumbers(std::string_view text) {
  VersionNumbers numbers;
  const char separator = text.find('.') != std::string_view::npos ? '.' : ',';
  std::size_t part = 0;
  std::size_t at = 0;
  for (;;) {
    if (part == numbers.parts.size()) return std::nullopt;
    const std::size_t start = at;
    std::uint32_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      value = value * 10 + static_cast<std::uint32_t>(text[at] - '0');
      if (value > 65535) return std::nullopt;
    }
    if (at == start) return std::nullopt;
    numbers.parts[part++] = static_cast<std::uint16_t>(value);
    if (at == text.size()) return numbers;
    if (text[at] != separator) return std::nullopt;
    ++at;
  }
}
