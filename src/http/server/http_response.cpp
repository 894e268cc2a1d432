#include "http/server/http_response.h"

#include <cstdint>
#include <utility>

#include "http/exceptions.h"
#include "http/header_values.h"

namespace tovi::http {
namespace {

struct Reason {
  int code;
  const char* text;
};
constexpr Reason kReasons[] = {
    {100, "Continue"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {301, "Moved Permanently"},
    {302, "Moved Temporarily"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method not allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity To Long"},
    {414, "Request-URI Too Long. 256 Chars max"},
    {415, "Unsupported Media Type"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway timeout"},
    {505, "HTTP version not supported"},
};

std::string DefaultPage(int code, const std::string& statusText) {
  return "<HTML><BODY><B>" + std::to_string(code) + " " + statusText + "</B></BODY></HTML>";
}

}  // namespace

std::string ResponseCodeText(int code) {
  for (const Reason& r : kReasons) {
    if (r.code == code) return r.text;
  }
  return "Unknown Response Code";
}

TNetHTTPResponseInfo::TNetHTTPResponseInfo(TNetTCPConnection& connection)
    : connection_(connection) {
  SetContentType("text/html");
  SetServer(kServerSoftwareName);
  HeaderLines().SetFoldLines(false);
}

TNetHTTPResponseInfo::~TNetHTTPResponseInfo() = default;

void TNetHTTPResponseInfo::ReleaseBodyStream() {
  ownedBodyStream_.reset();
  bodyStream_ = nullptr;
}

void TNetHTTPResponseInfo::SetResponseCode(int code) {
  responseCode_ = code;
  statusText_ = ResponseCodeText(code);
  if (code == 404) SetCloseAfterResponse(true);
}

void TNetHTTPResponseInfo::SetCloseAfterResponse(bool close) {
  closeAfterResponse_ = close || !requestMayKeep_;
  SetConnection(closeAfterResponse_ ? "close" : "keep-alive");
}

void TNetHTTPResponseInfo::SendHeaders() {
  if (headersSent_) throw ENetHTTPHeaderAlreadyWritten();
  headersSent_ = true;
  // The challenge page is the body, so its length is worked out from it like any other.
  if (!basicRealm_.empty()) {
    SetResponseCode(401);
    bodyText_ = DefaultPage(401, "Unauthorized");
  }
  if (ContentLength() == -1) {
    if (!bodyText_.empty()) {
      SetContentLength(static_cast<std::int64_t>(bodyText_.size()));
    } else if (bodyStream_) {
      SetContentLength(bodyStream_->Size());
    } else if (!closeAfterResponse_) {
      // A kept connection needs the end of every response: no body is a zero length.
      SetContentLength(0);
    }
  }
  BuildHeaderLines();
  connection_.OpenWriteBuffer();
  try {
    connection_.WriteLn("HTTP/1.1 " + std::to_string(responseCode_) + " " + statusText_);
    for (const std::string& line : HeaderLines().Lines()) connection_.WriteLn(line);
    connection_.WriteLn();
  } catch (...) {
    connection_.CloseWriteBuffer();
    throw;
  }
  if (!bodyWithHeaders_) connection_.CloseWriteBuffer();
}

void TNetHTTPResponseInfo::BuildHeaderLines() {
  TNetHeaderList& h = HeaderLines();
  h.Clear();
  h.Reserve(CustomHeaders().Count() + 16);  // room for every line below: one allocation
  auto setText = [&h](const char* name, const std::string& value) {
    if (!value.empty()) h.SetValue(name, value);
  };
  auto setLength = [&h, this]() {
    if (ContentLength() >= 0) h.SetValue("Content-Length", std::to_string(ContentLength()));
  };
  auto setDate = [&h](const char* name, std::int64_t value) {
    if (value > 0) h.SetValue(name, FormatHttpDate(value));
  };
  setText("Connection", Connection());
  setText("Content-Version", ContentVersion());
  setText("Content-Encoding", ContentEncoding());
  setText("Content-Language", ContentLanguage());
  setText("Content-Type", ContentType());
  setLength();
  setText("Cache-control", CacheControl());
  setDate("Date", Date());
  setDate("Expires", Expires());
  setText("Pragma", Pragma());
  for (const std::string& line : CustomHeaders().Lines()) h.Add(line);
  setText("Server", Server());
  setText("Content-Type", ContentType());
  setText("Location", Location());
  setLength();
  setDate("Last-Modified", LastModified());
  if (!basicRealm_.empty()) h.SetValue("WWW-Authenticate", "Basic realm=\"" + basicRealm_ + "\"");
}

void TNetHTTPResponseInfo::SendBody() {
  if (!headersSent_ && !closeAfterResponse_ && bodyText_.empty() && !bodyStream_) {
    // On a kept connection the default page needs its length in the headers.
    bodyText_ = DefaultPage(responseCode_, statusText_) + "\r\n";
  }
  if (!headersSent_) SendHeaders();
  if (!headRequest_) {
    if (!bodyText_.empty()) {
      connection_.Write(bodyText_);
    } else if (bodyStream_) {
      connection_.WriteStream(*bodyStream_, true, false, 0);
    } else {
      connection_.WriteLn(DefaultPage(responseCode_, statusText_));
    }
  }
  if (std::exchange(bodyWithHeaders_, false)) connection_.CloseWriteBuffer();
  bodyText_.clear();
  ReleaseBodyStream();
}

void TNetHTTPResponseInfo::Finish() {
  // The server ends the connection as soon as this returns.
  if (closeAfterResponse_) connection_.SetClosingAfterWrites();
  // A short text answer leaves with its headers: one send, one segment for the peer to take.
  bodyWithHeaders_ = !headersSent_ && !bodyText_.empty() && bodyText_.size() <= kSendChunk;
  if (!headersSent_) SendHeaders();
  if (!bodyText_.empty() || bodyStream_) SendBody();
}

}  // namespace tovi::http
