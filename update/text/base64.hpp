// Standard base64 (RFC 4648 alphabet, padded), decoded strictly: only the canonical encoding of
// some bytes is accepted, so every byte string has exactly one accepted text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

std::string Base64Encode(const std::uint8_t* data, std::size_t size);
// Nothing for a length that is not a multiple of 4, a character outside the alphabet, padding
// anywhere but at the end, or padding bits that are not zero.
std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text);
