// Whether a connection stays open after an exchange (RFC 9112 §9.3), the one rule both engines
// go by: the server after each answer, the client after each response. Pure, safe from any
// thread.
#pragma once
#include <string_view>

namespace tovi::http {

// httpVersion: the version in force ("HTTP/1.1"); connectionOptions: the Connection header's
// value, a comma list of options in any case. A "close" option closes the connection; else
// HTTP/1.1 and later keep it open, and HTTP/1.0 (or a version that is not one) only with a
// "keep-alive" option.
bool KeepsConnectionOpen(std::string_view httpVersion, std::string_view connectionOptions);

}  // namespace tovi::http
