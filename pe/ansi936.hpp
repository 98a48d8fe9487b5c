// Text in the ANSI code page of a Chinese (PRC) Windows system, 936 (GBK), as the ANSI
// functions return it. Host builds only: the conversion comes from the C library's iconv.
#pragma once

#if !defined(_WIN32)

#include <optional>
#include <string>
#include <string_view>

namespace pe {

// What WideCharToMultiByte(936, 0, ...) gives: a character that code page 936 cannot hold
// becomes '?', as does an unpaired surrogate.
std::string ToAnsi936(std::u16string_view text);

// The reverse, as MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, ...) does it: nothing when the
// bytes are not all characters of the code page.
std::optional<std::u16string> FromAnsi936(std::string_view text);

}  // namespace pe

#endif
