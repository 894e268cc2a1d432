// Where the media server is reached. The TVs, the list service's announcements and the test page
// all name this port, so it is said here alone. Constants and a pure function; safe from any
// thread.
#pragma once
#include <string>

#include "http/base_url.h"

namespace tovi::server {

inline constexpr int kMediaPort = 8027;

// "http://address:8027": the base of every URL to the media server.
inline std::string ServerBaseUrl(const std::string& address) {
  return http::BaseUrl(address, kMediaPort);
}

// The page a browser opens to check that the server answers.
inline constexpr const char* kTestPagePath = "/test";

}  // namespace tovi::server
