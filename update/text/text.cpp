#include "text/text.hpp"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace text {

Pos Find(std::string_view haystack, std::string_view what, Pos start) {
  const Pos size = static_cast<Pos>(haystack.size());
  if (start < 0 || start > size) return kNotFound;
  const Pos needle = static_cast<Pos>(what.size());
  // Walk character by character from the beginning so that `start` inside a
  // double-byte character moves on to the next boundary.
  Pos pos = 0;
  while (pos <= size - needle) {
    if (pos >= start && haystack.compare(static_cast<std::size_t>(pos), what.size(), what) == 0) return pos;
    const bool doubleByte = IsLeadByte(static_cast<unsigned char>(haystack[static_cast<std::size_t>(pos)])) &&
                            pos + 1 < size && haystack[static_cast<std::size_t>(pos + 1)] != '\0';
    pos += doubleByte ? 2 : 1;
  }
  return kNotFound;
}

Pos FindAtBoundary(std::string_view haystack, std::string_view what, Pos start) {
  const Pos size = static_cast<Pos>(haystack.size());
  if (start < 0 || start > size) return kNotFound;
  const Pos needle = static_cast<Pos>(what.size());
  for (Pos pos = start; pos <= size - needle;) {
    const auto at = static_cast<std::size_t>(pos);
    if ((what.empty() || haystack[at] == what[0]) && haystack.compare(at, what.size(), what) == 0) return pos;
    const bool doubleByte =
        IsLeadByte(static_cast<unsigned char>(haystack[at])) && pos + 1 < size && haystack[at + 1] != '\0';
    pos += doubleByte ? 2 : 1;
  }
  return kNotFound;
}

Pos ReverseFind(std::string_view s, char c) {
  Pos last = kNotFound;
  for (std::size_t pos = 0; pos < s.size();) {
    if (s[pos] == c) last = static_cast<Pos>(pos);
    pos += IsLeadByte(static_cast<unsigned char>(s[pos])) && pos + 1 < s.size() && s[pos + 1] != '\0' ? 2 : 1;
  }
  return last;
}

std::string Mid(std::string_view s, Pos pos, Pos count) {
  const Pos size = static_cast<Pos>(s.size());
  if (pos < 0) pos = 0;
  if (pos >= size || count <= 0) return {};
  if (count > size - pos) count = size - pos;
  return std::string(s.substr(static_cast<std::size_t>(pos), static_cast<std::size_t>(count)));
}

std::string TrimLeft(std::string_view s, std::string_view set) {
  const auto first = s.find_first_not_of(set);
  return first == std::string_view::npos ? std::string() : std::string(s.substr(first));
}

std::string TrimRight(std::string_view s, std::string_view set) {
  const auto last = s.find_last_not_of(set);
  return last == std::string_view::npos ? std::string() : std::string(s.substr(0, last + 1));
}

std::string Trim(std::string_view s, std::string_view set) { return TrimRight(TrimLeft(s, set), set); }

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string out;
  Pos pos = 0;
  for (Pos hit = Find(s, from, 0); hit != kNotFound; hit = Find(s, from, pos)) {
    out.append(s.substr(static_cast<std::size_t>(pos), static_cast<std::size_t>(hit - pos)));
    out.append(to);
    pos = hit + static_cast<Pos>(from.size());
  }
  out.append(s.substr(static_cast<std::size_t>(pos)));
  return out;
}

std::string RemoveAll(std::string_view s, char c) {
  std::string out;
  out.reserve(s.size());
  for (char b : s)
    if (b != c) out.push_back(b);
  return out;
}

// printf-style on purpose: the format attribute lets the compiler check every call's arguments.
std::string Format(const char* pattern, ...) {  // NOLINT(cert-dcl50-cpp)
  va_list args;
  va_start(args, pattern);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, pattern, copy);
  va_end(copy);
  std::string out;
  if (length > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    if (std::vsnprintf(buffer.data(), buffer.size(), pattern, args) == length)
      out.assign(buffer.data(), static_cast<std::size_t>(length));
  }
  va_end(args);
  return out;
}

std::int32_t AtoI32(std::string_view s) {
  std::size_t i = 0;
  auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < s.size() && isSpace(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::uint32_t total = 0;  // unsigned arithmetic wraps without undefined behaviour
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) total = total * 10u + static_cast<std::uint32_t>(s[i] - '0');
  if (negative) total = 0u - total;
  return static_cast<std::int32_t>(total);  // modulo 2^32 since C++20
}

std::string_view UntilNul(std::string_view s) {
  const auto nul = s.find('\0');
  return nul == std::string_view::npos ? s : s.substr(0, nul);
}

}  // namespace text
