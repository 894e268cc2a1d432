// The values both HTTP engines read from and write into header lines: whole numbers, lists and
// dates.
// Dates are seconds since 1970-01-01 UTC. Pure functions, safe from any thread.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tovi::http {

// A whole decimal number with an optional sign that fits in 64 bits; none when the text is not
// one (a blank, a second sign, hex) or overflows.
std::optional<std::int64_t> ParseInt64(const std::string& text);
// The same for values that must fit in 32 bits (ports, status codes, cookie ages).
std::optional<std::int32_t> ParseInt32(const std::string& text);
// A Content-Length value, blanks around it allowed: its number, or -1 when it is not a whole
// number of 0 or more that fits in 64 bits.
std::int64_t ContentLengthValue(const std::string& text);

// Hands each element of a header's comma-separated list to take, in order, blanks around it
// removed and empty elements passed over (RFC 9110 §5.6.1), until take returns false; returns
// whether every element was taken. Copies nothing: the views are into value.
bool ForEachListElement(std::string_view value,
                        const std::function<bool(std::string_view element)>& take);

// A Transfer-Encoding value whose last coding is "chunked", in any letter case (RFC 9112 §6.1).
bool EndsChunked(std::string_view transferCodings);

// "Sun, 06 Nov 1994 08:49:37 GMT" and the two older HTTP forms; 0 when unreadable.
std::int64_t ParseHttpDate(const std::string& text);
// Seconds since 1970 as "Sun, 06 Nov 1994 08:49:37 GMT".
std::string FormatHttpDate(std::int64_t unixSeconds);

}  // namespace tovi::http
