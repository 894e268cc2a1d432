// The small pure rules of the client's side of the wire: status codes, chunk sizes, numbers in
// header values, the keep-alive decision, the Host value and dates. No I/O, safe from any thread.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace tovi::http {

enum class TNetHTTPProtocolVersion { pv1_0, pv1_1 };

// A whole decimal integer with an optional sign that fits in 32 bits.
std::optional<std::int32_t> ParseInt32(const std::string& text);

// The code of a status line: its second space-delimited word as a number; -1 when none.
int ParseStatusCode(const std::string& statusLine);

// The size on a chunk-size line, hexadecimal, ended by a space, TAB, ';' (an extension) or the
// end; 0 when it is empty or not hexadecimal. Sizes beyond 2^62 count as 2^62.
std::int64_t ParseChunkSize(const std::string& line);

// Whether the connection may stay open after a response, judged by the client's own version:
// HTTP/1.0 only on "keep-alive", HTTP/1.1 unless "close" (either header, trimmed, any case).
bool KeepsConnectionOpen(TNetHTTPProtocolVersion version, const std::string& connection,
                         const std::string& proxyConnection);

// The Host header value: host, plus ":" and the port when the port text is not "80".
std::string HostHeaderValue(const std::string& host, const std::string& port);

// Seconds since 1970-01-01 UTC as an HTTP date: "Mon, 07 Dec 2026 00:35:12 GMT".
std::string FormatHttpDate(std::int64_t unixSeconds);

}  // namespace tovi::http
