// The values both HTTP engines read from and write into header lines: dates.
// Dates are seconds since 1970-01-01 UTC. Pure functions, safe from any thread.
#pragma once
#include <cstdint>
#include <string>

namespace tovi::http {

// "Sun, 06 Nov 1994 08:49:37 GMT" and the two older HTTP forms; 0 when unreadable.
std::int64_t ParseHttpDate(const std::string& text);
// Seconds since 1970 as "Sun, 06 Nov 1994 08:49:37 GMT".
std::string FormatHttpDate(std::int64_t unixSeconds);

}  // namespace tovi::http
