#include "http/client/uri.h"

#include <algorithm>
#include <vector>

namespace tovi::http {
namespace {

// Splits what follows the authority into path, document, params and fragment.
void SplitRest(const std::string& rest, bool fullUrl, TNetURI* uri) {
  // A '#' starts the fragment wherever it stands: a '?' or '=' after it belongs to the fragment.
  std::string sent = rest;
  const std::size_t hash = rest.find('#');
  if (hash != std::string::npos) {
    uri->Bookmark = rest.substr(hash + 1);
    sent = rest.substr(0, hash);
  }
  std::size_t q = sent.find('?');
  if (q == std::string::npos) q = sent.find('=');
  const std::size_t end = q == std::string::npos ? sent.size() : q;
  const std::size_t lastSlash = end == 0 ? std::string::npos : sent.rfind('/', end - 1);
  const std::size_t docStart = lastSlash == std::string::npos ? 0 : lastSlash + 1;
  uri->Path = (fullUrl ? "/" : "") + sent.substr(0, docStart);
  uri->Document = sent.substr(docStart, end - docStart);
  uri->Params = q == std::string::npos ? std::string() : sent.substr(q);
}

}  // namespace

TNetURI TNetURI::Parse(const std::string& url) {
  std::string text = url;
  std::replace(text.begin(), text.end(), '\\', '/');

  TNetURI uri;
  const std::size_t scheme = text.find("://");
  if (scheme == std::string::npos) {
    SplitRest(text, false, &uri);
    return uri;
  }
  uri.Protocol = text.substr(0, scheme);
  std::string rest = text.substr(scheme + 3);
  const std::size_t slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);

  const std::size_t at = authority.find('@');
  if (at != std::string::npos) {
    const std::string userInfo = authority.substr(0, at);
    authority = authority.substr(at + 1);
    const std::size_t colon = userInfo.find(':');
    uri.Username = userInfo.substr(0, colon);
    if (colon != std::string::npos && !uri.Username.empty()) uri.Password = userInfo.substr(colon + 1);
  }
  const std::size_t colon = authority.find(':');
  uri.Host = authority.substr(0, colon);
  if (colon != std::string::npos) uri.Port = authority.substr(colon + 1);

  SplitRest(rest, true, &uri);
  return uri;
}

std::string ResolvePath(const std::string& base, const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  const std::string joined = base + (base.empty() || base.back() == '/' ? "" : "/") + path;
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= joined.size()) {
    std::size_t next = joined.find('/', start);
    if (next == std::string::npos) next = joined.size();
    const std::string segment = joined.substr(start, next - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = next + 1;
  }
  std::string out = "/";
  for (const std::string& s : segments) out += s + "/";
  return out;
}

}  // namespace tovi::http
