// Narrow text in the system's ANSI code page, held in std::string.
// Positions and lengths are byte counts; "not found" is -1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace text {

using Pos = std::ptrdiff_t;
inline constexpr Pos kNotFound = -1;

// True when the byte starts a double-byte character in the ANSI code page.
// Windows asks the running system; the host build follows code page 936.
bool IsLeadByte(unsigned char byte);

// First occurrence of `what` at or after `start`. Matches only begin on character
// boundaries, so a key never matches from the trail byte of a double-byte character.
// A start beyond the end, or a negative one, finds nothing.
Pos Find(std::string_view haystack, std::string_view what, Pos start = 0);

// Find for a `start` known to be a character boundary (0, or just past a match of ASCII text or
// of a CR LF): the walk begins there, so a reader that searches on from each match reads its
// text once instead of once per search.
Pos FindAtBoundary(std::string_view haystack, std::string_view what, Pos start);

// Last occurrence of the byte `c` that is a character of its own, never the trail byte
// of a double-byte character.
Pos ReverseFind(std::string_view s, char c);

// Bytes [pos, pos + count), clamped to the text.
std::string Mid(std::string_view s, Pos pos, Pos count);

// Removes leading, then trailing, bytes that belong to `set`.
std::string TrimLeft(std::string_view s, std::string_view set);
std::string TrimRight(std::string_view s, std::string_view set);
std::string Trim(std::string_view s, std::string_view set);

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);

// Removes every byte equal to `c`.
std::string RemoveAll(std::string_view s, char c);

std::string Format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

// The C library's atoi on a 32-bit int, with overflow wrapping modulo 2^32:
// leading white space, an optional sign, then decimal digits up to the first non-digit.
std::int32_t AtoI32(std::string_view s);

// Text up to (not including) the first zero byte.
std::string_view UntilNul(std::string_view s);

}  // namespace text
