// UTF-16 text as Windows stores it in resources.
#pragma once

#include <string>
#include <string_view>

namespace pe {

// UTF-8 for printing and logs; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

// ASCII text widened unit by unit, for keys and table names given as narrow text.
std::u16string FromAscii(std::string_view text);

// Equal when they differ at most in the case of ASCII letters, the way resource names,
// version keys and table names ("040904B0" and "040904b0") are matched.
bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b);

}  // namespace pe
