// URL parts as the client uses them. Nothing is percent-encoded or decoded here: the parts hold
// every byte of the path and query as the caller wrote it, except that backslashes become '/'
// and the fragment (from the first '#' after the host) is cut off. The client encodes only what
// would break its request line when it sends (EscapeRequestTarget, wire.h).
// Pure: no I/O, safe from any thread.
#pragma once
#include <string>

namespace tovi::http {

struct TNetURI {
  std::string Protocol;  // "http"; empty for a URL without "://"
  std::string Username;
  std::string Password;
  std::string Host;
  std::string Port;      // as written; empty when the URL gives none
  std::string Path;      // up to and including the last '/' before the query
  std::string Document;  // between Path and Params
  std::string Params;    // from the first '?' (or, with none, the first '=') to the end
  std::string Bookmark;  // the fragment, never sent

  // Splits url. A full URL ("scheme://authority/...") always gets a Path starting with '/';
  // a URL without "://" is split into Path, Document and Params only.
  static TNetURI Parse(const std::string& url);

  // Path + Document + Params: what goes on the request line.
  std::string Target() const { return Path + Document + Params; }
};

// path resolved against base (both directory paths): an absolute path is returned unchanged;
// a relative one is appended to base with ".", ".." and doubled slashes removed.
std::string ResolvePath(const std::string& base, const std::string& path);

}  // namespace tovi::http
