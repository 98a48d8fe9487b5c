#include "text/base64.hpp"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int ValueOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string Base64Encode(const std::uint8_t* data, std::size_t size) {
  std::string text;
  text.reserve((size + 2) / 3 * 4);
  for (std::size_t i = 0; i < size; i += 3) {
    const std::size_t left = size - i;
    const std::uint32_t group = static_cast<std::uint32_t>(data[i]) << 16 |
                                (left > 1 ? static_cast<std::uint32_t>(data[i + 1]) << 8 : 0u) |
                                (left > 2 ? static_cast<std::uint32_t>(data[i + 2]) : 0u);
    text.push_back(kAlphabet[group >> 18 & 63]);
    text.push_back(kAlphabet[group >> 12 & 63]);
    text.push_back(left > 1 ? kAlphabet[group >> 6 & 63] : '=');
    text.push_back(left > 2 ? kAlphabet[group & 63] : '=');
  }
  return text;
}

std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    std::uint32_t group = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      const bool padded = last && j >= 4 - padding;
      const int value = padded ? 0 : ValueOf(text[i + j]);
      if (value < 0) return std::nullopt;
      group = group << 6 | static_cast<std::uint32_t>(value);
    }
    // The bits that padding leaves over must be zero, or two texts would decode alike.
    if (last && ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0))) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(group >> 16));
    if (!last || padding < 2) bytes.push_back(static_cast<std::uint8_t>(group >> 8));
    if (!last || padding < 1) bytes.push_back(static_cast<std::uint8_t>(group));
  }
  return bytes;
}
