// A version text read as the numbers of a FileVersion, so that releases can be ordered.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string_view>

struct VersionNumbers {
  std::array<std::uint16_t, 4> parts{};  // missing parts are 0

  auto operator<=>(const VersionNumbers&) const = default;
};

// One to four decimal numbers from 0 to 65535, separated by "," or by "." (one kind of separator
// in a text), and nothing else: "1,0,0,4", "2.1". Nothing when the text is not of that form.
std::optional<VersionNumbers> ReadVersionNumbers(std::string_view text);
