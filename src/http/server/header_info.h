// The header fields of the server's request and response records: entity fields
// (TNetEntityHeaderInfo), request fields (TNetRequestHeaderInfo) and response fields
// (TNetResponseHeaderInfo), each with its raw header list (HeaderLines). They live in their own
// namespace because the client engine keeps records of the same names for its side.
// Dates are seconds since 1970-01-01 UTC, 0 = not set. Lengths and ranges are 64-bit.
// Thread safety: none; a record belongs to one request on one thread.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "http/header_list.h"

namespace tovi::http::serverside {

#define TOVI_TEXT_PROPERTY(Name)                                      \
 public:                                                              \
  const std::string& Name() const { return Name##_; }                 \
  void Set##Name(const std::string& value) { Name##_ = value; }       \
                                                                      \
 private:                                                             \
  std::string Name##_;

class TNetEntityHeaderInfo {
 public:
  TNetEntityHeaderInfo();
  virtual ~TNetEntityHeaderInfo() = default;

  // -1: none. HasContentLength: 0 or more.
  std::int64_t ContentLength() const { return contentLength_; }
  void SetContentLength(std::int64_t length) { contentLength_ = length; }
  bool HasContentLength() const { return contentLength_ >= 0; }

  // From a request's "Range": start and end as the header gave them (0 when absent or not a
  // number); HasRange: a non-empty Range header was there; RangeHasEnd: its end was a number;
  // RangeIsSuffix: "bytes=-N" (then ContentRangeEnd holds N).
  std::uint64_t ContentRangeStart() const { return rangeStart_; }
  void SetContentRangeStart(std::uint64_t v) { rangeStart_ = v; }
  std::uint64_t ContentRangeEnd() const { return rangeEnd_; }
  void SetContentRangeEnd(std::uint64_t v) { rangeEnd_ = v; }
  bool HasRange() const { return hasRange_; }
  bool RangeHasEnd() const { return rangeHasEnd_; }
  bool RangeIsSuffix() const { return rangeIsSuffix_; }

  std::int64_t Date() const { return date_; }
  void SetDate(std::int64_t v) { date_ = v; }
  std::int64_t Expires() const { return expires_; }
  void SetExpires(std::int64_t v) { expires_ = v; }
  std::int64_t LastModified() const { return lastModified_; }
  void SetLastModified(std::int64_t v) { lastModified_ = v; }

  // The header lines as received, or as they will be written.
  TNetHeaderList& HeaderLines() { return headerLines_; }
  const TNetHeaderList& HeaderLines() const { return headerLines_; }
  // Extra lines a caller adds; written after the standard ones (fold length 78).
  TNetHeaderList& CustomHeaders() { return customHeaders_; }
  const TNetHeaderList& CustomHeaders() const { return customHeaders_; }

  // Fills the fields from HeaderLines.
  virtual void ProcessHeaders();

  TOVI_TEXT_PROPERTY(Connection)
  TOVI_TEXT_PROPERTY(ContentVersion)
  TOVI_TEXT_PROPERTY(ContentEncoding)
  TOVI_TEXT_PROPERTY(ContentLanguage)
  TOVI_TEXT_PROPERTY(ContentType)
  TOVI_TEXT_PROPERTY(CacheControl)
  TOVI_TEXT_PROPERTY(Pragma)

 protected:
  void ParseRange(const std::string& value);

 private:
  std::int64_t contentLength_ = -1;
  std::uint64_t rangeStart_ = 0;
  std::uint64_t rangeEnd_ = 0;
  bool hasRange_ = false;
  bool rangeHasEnd_ = false;
  bool rangeIsSuffix_ = false;
  std::int64_t date_ = 0;
  std::int64_t expires_ = 0;
  std::int64_t lastModified_ = 0;
  TNetHeaderList headerLines_{kRecordFoldLength};
  TNetHeaderList customHeaders_{kCustomFoldLength};
};

class TNetRequestHeaderInfo : public TNetEntityHeaderInfo {
 public:
  void ProcessHeaders() override;
  bool BasicAuthentication() const { return basicAuthentication_; }
  void SetBasicAuthentication(bool on) { basicAuthentication_ = on; }

  TOVI_TEXT_PROPERTY(Accept)
  TOVI_TEXT_PROPERTY(AcceptCharSet)
  TOVI_TEXT_PROPERTY(AcceptEncoding)
  TOVI_TEXT_PROPERTY(AcceptLanguage)
  TOVI_TEXT_PROPERTY(From)
  TOVI_TEXT_PROPERTY(Referer)
  TOVI_TEXT_PROPERTY(UserAgent)
  TOVI_TEXT_PROPERTY(Host)
  TOVI_TEXT_PROPERTY(ProxyConnection)
  TOVI_TEXT_PROPERTY(Username)
  TOVI_TEXT_PROPERTY(Password)

 private:
  bool basicAuthentication_ = false;
};

class TNetResponseHeaderInfo : public TNetEntityHeaderInfo {
 public:
  TNetResponseHeaderInfo();
  void ProcessHeaders() override;
  std::vector<std::string>& WWWAuthenticate() { return wwwAuthenticate_; }
  std::vector<std::string>& ProxyAuthenticate() { return proxyAuthenticate_; }

  TOVI_TEXT_PROPERTY(Location)
  TOVI_TEXT_PROPERTY(Server)
  TOVI_TEXT_PROPERTY(ProxyConnection)

 private:
  std::vector<std::string> wwwAuthenticate_;
  std::vector<std::string> proxyAuthenticate_;
};

#undef TOVI_TEXT_PROPERTY

}  // namespace tovi::http::serverside
