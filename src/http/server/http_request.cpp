#include "http/server/http_request.h"

#include <algorithm>
#include <utility>

#include "http/coding.h"
#include "http/exceptions.h"
#include "http/header_list.h"

namespace tovi::http {
namespace {

// Path decoding of a request target's path part; the host of an absolute URL goes to *host.
// The whole path is decoded, "=" and all: players percent-encode the names a playlist lists,
// and names with "=" are common. A raw "#" after the first "=" still ends the path, as ever.
std::string DecodePath(const std::string& pathPart, std::string* host) {
  std::string s = pathPart;
  std::replace(s.begin(), s.end(), '\\', '/');
  std::size_t scheme = s.find("://");
  if (scheme != std::string::npos) {
    std::string rest = s.substr(scheme + 3);
    std::size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    std::size_t at = authority.find('@');
    if (at != std::string::npos) authority = authority.substr(at + 1);
    *host = authority.substr(0, authority.find(':'));
    s.assign(1, '/');
    if (slash != std::string::npos) s.append(rest, slash + 1);
  }
  const std::size_t eq = s.find('=');
  if (eq != std::string::npos) s = s.substr(0, s.find('#', eq));
  return URLDecode(s);
}

std::vector<std::string> SplitParams(const std::string& source) {
  std::vector<std::string> out;
  if (source.empty()) return out;
  std::size_t start = 0;
  for (;;) {
    std::size_t amp = source.find('&', start);
    out.push_back(URLDecode(source.substr(start, amp == std::string::npos ? amp : amp - start)));
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return out;
}

TNetCookieRC CookieFrom(const std::string& piece) {
  TNetCookieRC c;
  std::size_t eq = piece.find('=');
  c.Name = piece.substr(0, eq);
  if (eq != std::string::npos) c.Value = piece.substr(eq + 1);
  return c;
}

TNetCookies ParseCookies(const TNetHeaderList& headers) {
  TNetCookies out;
  for (const std::string& value : headers.Extract("Cookie")) {
    std::size_t start = 0;
    bool first = true;
    for (;;) {
      std::size_t semi = value.find(';', start);
      std::string piece = value.substr(start, semi == std::string::npos ? semi : semi - start);
      if (!first) {
        std::size_t b = 0;
        while (b < piece.size() && (piece[b] == ' ' || piece[b] == '\t')) ++b;
        piece.erase(0, b);
      }
      if (semi != std::string::npos || !piece.empty()) out.push_back(CookieFrom(piece));
      if (semi == std::string::npos) break;
      start = semi + 1;
      first = false;
    }
  }
  return out;
}

}  // namespace

void TNetHTTPRequestInfo::ProcessHeaders() {
  TNetRequestHeaderInfo::ProcessHeaders();
}

void TNetHTTPRequestInfo::SetRequestLine(const std::string& raw, const TNetRequestLine& parts,
                                         std::string remoteAddress) {
  rawRequestLine_ = raw;
  method_ = parts.method;
  version_ = parts.version;
  remoteAddress_ = std::move(remoteAddress);
}

void TNetHTTPRequestInfo::TakeBody(std::unique_ptr<TStream> body, bool supplied) {
  // A body the engine read for itself is not kept as a stream: its bytes move to the form text
  // (one copy fewer of what may be megabytes).
  if (auto* text = dynamic_cast<TStringStream*>(body.get())) {
    formText_ = supplied ? text->DataString() : text->TakeBytes();
    paramText_ = formText_;
  }
  if (supplied) {
    body->SetPosition(0);
    body_ = std::move(body);
  }
}

void TNetHTTPRequestInfo::ApplyTarget(const std::string& target, bool parseParams) {
  const std::size_t question = target.find('?');
  const std::string pathPart = target.substr(0, question);
  if (question != std::string::npos) query_ = target.substr(question + 1);
  if (!query_.empty()) {
    if (!paramText_.empty()) paramText_ += "\r\n";
    paramText_ += query_;
  }
  if (parseParams) {
    const bool form = LowerCase(ContentType()) == "application/x-www-form-urlencoded";
    params_ = SplitParams(form ? paramText_ : query_);
  }
  cookies_ = ParseCookies(HeaderLines());
  if (pathPart == "*") {
    path_.assign(1, '*');  // not = "*", which g++ 12 at -O3 flags as an overlap (-Wrestrict)
  } else {
    std::string host;
    path_ = DecodePath(pathPart, &host);
    if (Host().empty()) SetHost(host);
  }
}

void TNetHTTPRequestInfo::ApplyAuthorization() {
  const std::string authorization = HeaderLines().Values("Authorization");
  if (authorization.empty()) return;
  authExists_ = true;
  const std::size_t space = authorization.find(' ');
  if (!SameText(authorization.substr(0, space), "Basic")) {
    throw ENetHTTPUnsupportedAuthorisationScheme();
  }
  const std::string decoded = Base64Decode(
      space == std::string::npos ? std::string() : Trim(authorization.substr(space + 1)));
  const std::size_t colon = decoded.find(':');
  authUsername_ = decoded.substr(0, colon);
  if (colon != std::string::npos) authPassword_ = decoded.substr(colon + 1);
}

}  // namespace tovi::http
