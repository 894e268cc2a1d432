// The header records of both HTTP engines: entity fields (TNetEntityHeaderInfo), request
// fields (TNetRequestHeaderInfo) and response fields (TNetResponseHeaderInfo), each with its
// header lines (HeaderLines) and the extra lines a caller adds (CustomHeaders). The server
// fills a request record from the lines it received and writes a response record; the client
// writes a request record and fills a response record from the lines it received.
// ProcessHeaders is the filling: the fields from HeaderLines.
// A record starts empty; an engine's own defaults are set by the record it derives from these.
// Dates are seconds since 1970-01-01 UTC, 0 = not set. Lengths are 64-bit.
// Thread safety: none; a record belongs to one exchange on one thread.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "http/byte_range.h"
#include "http/header_list.h"

// A read/write value with the property's name: Name() and SetName(v), starting at Default.
// Both engines' records use it, so it stays defined for the headers that derive from these.
#define TOVI_HTTP_FIELD(Type, Name, Default)               \
 public:                                                    \
  const Type& Name() const { return Name##_; }              \
  void Set##Name(const Type& value) { Name##_ = value; }    \
                                                            \
 private:                                                   \
  Type Name##_ = Default;

namespace tovi::http {

class TNetEntityHeaderInfo {
  TOVI_HTTP_FIELD(std::string, Connection, {})
  TOVI_HTTP_FIELD(std::string, ContentVersion, {})
  TOVI_HTTP_FIELD(std::string, ContentEncoding, {})
  TOVI_HTTP_FIELD(std::string, ContentLanguage, {})
  TOVI_HTTP_FIELD(std::string, ContentType, {})
  TOVI_HTTP_FIELD(std::string, CacheControl, {})
  TOVI_HTTP_FIELD(std::string, Pragma, {})
  // -1: none (no header written, or none received).
  TOVI_HTTP_FIELD(std::int64_t, ContentLength, -1)
  TOVI_HTTP_FIELD(std::int64_t, Date, 0)
  TOVI_HTTP_FIELD(std::int64_t, Expires, 0)
  TOVI_HTTP_FIELD(std::int64_t, LastModified, 0)

 public:
  TNetEntityHeaderInfo() = default;
  virtual ~TNetEntityHeaderInfo() = default;

  bool HasContentLength() const { return ContentLength_ >= 0; }

  // The header lines as received, or as they will be written (fold length 1024).
  TNetHeaderList& HeaderLines() { return headerLines_; }
  const TNetHeaderList& HeaderLines() const { return headerLines_; }
  // Extra lines a caller adds; written after the entity lines (fold length 78).
  TNetHeaderList& CustomHeaders() { return customHeaders_; }
  const TNetHeaderList& CustomHeaders() const { return customHeaders_; }

  // Fills the fields from HeaderLines; values that cannot be read leave fields unset.
  virtual void ProcessHeaders();

 private:
  TNetHeaderList headerLines_{kRecordFoldLength};
  TNetHeaderList customHeaders_{kCustomFoldLength};
};

class TNetRequestHeaderInfo : public TNetEntityHeaderInfo {
  TOVI_HTTP_FIELD(std::string, Accept, {})
  TOVI_HTTP_FIELD(std::string, AcceptCharSet, {})
  TOVI_HTTP_FIELD(std::string, AcceptEncoding, {})
  TOVI_HTTP_FIELD(std::string, AcceptLanguage, {})
  TOVI_HTTP_FIELD(std::string, From, {})
  TOVI_HTTP_FIELD(std::string, Referer, {})
  TOVI_HTTP_FIELD(std::string, UserAgent, {})
  TOVI_HTTP_FIELD(std::string, Host, {})
  TOVI_HTTP_FIELD(std::string, ProxyConnection, {})
  TOVI_HTTP_FIELD(std::string, Username, {})
  TOVI_HTTP_FIELD(std::string, Password, {})
  // A request to send: with a user name, "Authorization: Basic ..." goes with it.
  TOVI_HTTP_FIELD(bool, BasicAuthentication, false)

 public:
  // The entity fields and the request fields; not the credentials.
  void ProcessHeaders() override;
  // A received request's Range, read from its first "Range" line when asked (byte_range.h).
  ByteRange Range() const { return ParseByteRange(HeaderLines().Values("Range")); }
};

class TNetResponseHeaderInfo : public TNetEntityHeaderInfo {
  TOVI_HTTP_FIELD(std::string, Location, {})
  TOVI_HTTP_FIELD(std::string, Server, {})
  TOVI_HTTP_FIELD(std::string, ProxyConnection, {})
  // Every value of those lines, in order.
  TOVI_HTTP_FIELD(std::vector<std::string>, WWWAuthenticate, {})
  TOVI_HTTP_FIELD(std::vector<std::string>, ProxyAuthenticate, {})

 public:
  void ProcessHeaders() override;
};

}  // namespace tovi::http
