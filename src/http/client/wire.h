// The small pure rules of the client's side of the wire: status codes, the
// version's text and the Host value. No I/O, safe from any thread.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tovi::http {

enum class TNetHTTPProtocolVersion { pv1_0, pv1_1 };

// The code of a status line: its second space-delimited word as a number; -1 when none.
int ParseStatusCode(const std::string& statusLine);

// "HTTP/1.0" or "HTTP/1.1": the request line's version, by which the client also judges
// whether a response leaves the connection open (keep_alive.h).
std::string_view VersionText(TNetHTTPProtocolVersion version);

// The Host header value: host, plus ":" and the port when the port text is not "80".
std::string HostHeaderValue(const std::string& host, const std::string& port);

// What the client writes must never end a line or split the request line where a peer chose:
// a URL or a header value from outside could otherwise add a request of its own choosing.
// The request target with every control byte, space and DEL percent-encoded ("%0D", "%20");
// every other byte as it is, a '%' included (a target may already be encoded).
std::string EscapeRequestTarget(const std::string& target);
// Whether text may stand in a header line: no control byte but TAB, and no DEL.
bool IsHeaderValueSafe(const std::string& text);
// Whether a host (name or address) may be looked up and named on the Host line: header-safe,
// and no space or TAB either.
bool IsHostNameSafe(const std::string& host);

}  // namespace tovi::http
