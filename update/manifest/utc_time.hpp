// Points in time as a manifest states them: UTC, to the second, in one fixed form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Seconds since 1970-01-01T00:00:00Z, negative before.
using UtcSeconds = std::int64_t;

// Exactly "YYYY-MM-DDTHH:MM:SSZ" with a real date of the Gregorian calendar and a time from
// 00:00:00 to 23:59:59. Nothing when the text is not of that form.
std::optional<UtcSeconds> ReadUtcTime(std::string_view text);

// The form ReadUtcTime reads; for years 0 to 9999.
std::string UtcTimeText(UtcSeconds seconds);
