// "/parserlink": fetch a page through the PC with a desktop browser's identity and cut the text
// between two pattern markers. The fetch is bounded so a slow or endless page cannot hold a
// connection thread or its memory: a time limit on the connect and on every silence, and a
// most bytes kept of the body (what arrived by then is the page, as for a broken transfer).
// Services that listen on the PC's loopback trust the PC alone, so a peer elsewhere on the
// network never has a page fetched from there (FetchAllowed).
// Thread safety: every call uses its own client and matcher; nothing is shared.
#pragma once
#include <cstdint>
#include <string>

#include "platform/socket.h"

namespace tovi::server {

inline constexpr const char* kBrowserIdentity =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/40.0.2214.93 Safari/537.36";

struct PageFetchLimits {
  int timeoutMs = 30000;                    // connect, and each wait for the next bytes
  std::int64_t maxBodyBytes = 32ll << 20;   // kept of the body; reading stops there
};

// Whether a fetch for the peer at peerAddress (dotted) may connect to target: not to a loopback
// or unspecified address (both reach the PC's loopback services) unless the peer is on the PC's
// own loopback.
bool FetchAllowed(const std::string& peerAddress, const net::Endpoint& target);

// The page's body as bytes, unconverted; every failure is swallowed: "" for an error status, a
// redirect, no connection or one FetchAllowed refuses (decided on the address the URL's host
// resolved to), the bytes received so far when the transfer broke off or hit a limit.
std::string FetchPage(const std::string& url, const PageFetchLimits& limits,
                      const std::string& peerAddress);

enum class CutOutcome { Found, NotFound, Failed };

// Matches start + "(.*?)" + end (the markers are pattern text, not escaped) once from the start
// of page; Found puts group 1 into *text. Failed: the matcher raised (a broken pattern, or a
// search over its step budget).
CutOutcome CutBetween(const std::string& page, const std::string& start, const std::string& end,
                      std::string* text);

}  // namespace tovi::server
