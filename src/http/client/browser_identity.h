// The identity of a desktop browser, presented where a peer answers browsers only: the pages
// "/parserlink" fetches and the list service's registration. The client's own identity is the
// default of TNetHTTPRequest::UserAgent.
#pragma once

namespace tovi::http {

inline constexpr const char* kBrowserUserAgent =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/40.0.2214.93 Safari/537.36";

}  // namespace tovi::http
