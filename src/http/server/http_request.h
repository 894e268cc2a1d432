// TNetHTTPRequestInfo: the request record the request loop fills and the handler reads, and how
// its fields come from the request's text: the request line's parts, the target's decoded path
// (an absolute URL's host too), its query and parameters, the cookies and the Basic
// authorization. The header fields (Range, lengths, Host...) come from TNetRequestHeaderInfo.
// Pure: no I/O. Errors: an authorization scheme other than Basic raises
// ENetHTTPUnsupportedAuthorisationScheme ("Unsupported authorization scheme.").
// Thread safety: none; a record belongs to one request on its connection's thread.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "http/header_info.h"
#include "http/stream.h"
#include "http/server/request_scan.h"

namespace tovi::http {

// One cookie of a request: a name=value pair of its "Cookie" header lines.
class TNetCookieRC {
 public:
  std::string Name;
  std::string Value;
  std::string CookieText() const { return Name + "=" + Value; }
};
using TNetCookies = std::vector<TNetCookieRC>;

class TNetHTTPRequestInfo : public TNetRequestHeaderInfo {
 public:
  const std::string& RawRequestLine() const { return rawRequestLine_; }
  const std::string& RequestMethod() const { return method_; }
  const std::string& HttpVersion() const { return version_; }
  const std::string& RequestPath() const { return path_; }  // decoded
  const std::string& QueryText() const { return query_; }    // not decoded
  const std::string& FormText() const { return formText_; }
  const std::string& ParamText() const { return paramText_; }
  const std::vector<std::string>& ParamList() const { return params_; }
  // The body stream, only when OnCreatePostStream supplied one.
  TStream* RequestBody() const { return body_.get(); }
  const std::string& RemoteAddress() const { return remoteAddress_; }
  const TNetCookies& CookieList() const { return cookies_; }
  bool AuthExists() const { return authExists_; }
  const std::string& AuthUsername() const { return authUsername_; }
  const std::string& AuthPassword() const { return authPassword_; }

  // Fills the header fields from HeaderLines (Range, lengths, the request's own fields).
  void ProcessHeaders() override;

 private:
  friend class TNetCustomHTTPServer;
  friend class TNetRequestReader;
  void SetRequestLine(const std::string& raw, const TNetRequestLine& parts,
                      std::string remoteAddress);
  // A text body's text becomes FormText and ParamText; a stream the handler supplied is kept,
  // from its start, as RequestBody.
  void TakeBody(std::unique_ptr<TStream> body, bool supplied);
  // Query, parameters, cookies, decoded path (and the host of an absolute target).
  void ApplyTarget(const std::string& target, bool parseParams);
  void ApplyAuthorization();

  std::string rawRequestLine_, method_, version_, path_, query_, formText_, paramText_;
  std::vector<std::string> params_;
  std::unique_ptr<TStream> body_;
  std::string remoteAddress_;
  TNetCookies cookies_;
  bool authExists_ = false;
  std::string authUsername_, authPassword_;
};

}  // namespace tovi::http
