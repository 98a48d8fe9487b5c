// Bytes written as hexadecimal digits, two per byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Lower-case digits.
std::string HexEncode(const std::uint8_t* data, std::size_t size);

// Reads exactly 2 * size digits into `out`; false for another length or a non-digit.
// Upper-case digits count only when `upperToo` is set.
bool HexDecode(std::string_view text, std::uint8_t* out, std::size_t size, bool upperToo);
