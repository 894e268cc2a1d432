// TNetHTTPResponseInfo: the response record a handler fills, and how it goes on the wire. The
// status line is "HTTP/1.1 <code> <text>"; the headers follow in a fixed order (BuildHeaderLines),
// with a Content-Length worked out from the body where the handler set none; then BodyText, else
// BodyStream from its start, else a short default page naming the status. A HEAD answer gets the
// same headers and no body. A handler may send the headers itself (SendHeaders) and write the
// body to the connection; the request loop then writes nothing more.
// Errors: a second SendHeaders raises ENetHTTPHeaderAlreadyWritten; a failed write raises the
// connection's socket error.
// Thread safety: none; a record belongs to one request on its connection's thread.
#pragma once
#include <memory>
#include <string>

#include "http/connection.h"
#include "http/header_info.h"
#include "http/stream.h"

namespace tovi::http {

inline constexpr const char* kServerSoftwareName = "NetHTTP/1.0";

// Reason text for a status code ("Unknown Response Code" for codes without one).
std::string ResponseCodeText(int code);

class TNetHTTPResponseInfo : public TNetResponseHeaderInfo {
 public:
  explicit TNetHTTPResponseInfo(TNetTCPConnection& connection);
  ~TNetHTTPResponseInfo() override;

  int ResponseCode() const { return responseCode_; }
  // Also sets StatusText from the reason table; 404 also sets CloseAfterResponse.
  void SetResponseCode(int code);
  const std::string& StatusText() const { return statusText_; }
  void SetStatusText(const std::string& text) { statusText_ = text; }
  const std::string& BodyText() const { return bodyText_; }
  void SetBodyText(const std::string& text) { bodyText_ = text; }
  TStream* BodyStream() const { return bodyStream_; }
  // Written from its start when BodyText is empty. An owned stream (OwnsBodyStream) is freed
  // after writing and with the record; a borrowed one is only forgotten.
  void SetBodyStream(std::unique_ptr<TStream> stream) {
    ownedBodyStream_ = std::move(stream);
    bodyStream_ = ownedBodyStream_.get();
  }
  void SetBodyStream(TStream* borrowed) {
    ownedBodyStream_.reset();
    bodyStream_ = borrowed;
  }
  bool OwnsBodyStream() const { return bodyStream_ && ownedBodyStream_.get() == bodyStream_; }
  bool CloseAfterResponse() const { return closeAfterResponse_; }
  // Also sets the "Connection" value: "close" or "keep-alive". A request that may not be kept
  // (it asked to close, or is HTTP/1.0 without keep-alive) is closed whatever a handler asks.
  void SetCloseAfterResponse(bool close);
  bool HeadersSent() const { return headersSent_; }
  const std::string& ServerSoftware() const { return serverSoftware_; }
  void SetServerSoftware(const std::string& s) { serverSoftware_ = s; }
  const std::string& BasicRealm() const { return basicRealm_; }
  // When set, SendHeaders turns the response into a Basic authentication challenge (401).
  void SetBasicRealm(const std::string& realm) { basicRealm_ = realm; }

  // Status line and headers, once (again: ENetHTTPHeaderAlreadyWritten), in one send.
  void SendHeaders();
  // Headers if not sent, then BodyText, else BodyStream, else the default page.
  void SendBody();

 private:
  friend class TNetCustomHTTPServer;
  // After the handler: writes what it left unwritten (headers, then a body it set). The server
  // ends a connection to be closed right after it, without waiting for the peer.
  void Finish();
  void ReleaseBodyStream();
  void BuildHeaderLines();

  TNetTCPConnection& connection_;
  bool headRequest_ = false;  // HEAD: headers only, never a body
  bool requestMayKeep_ = true;  // the request lets the connection stay open
  int responseCode_ = 200;
  std::string statusText_ = "OK";
  std::string bodyText_;
  TStream* bodyStream_ = nullptr;
  std::unique_ptr<TStream> ownedBodyStream_;
  bool closeAfterResponse_ = false;
  bool headersSent_ = false;
  bool bodyWithHeaders_ = false;  // SendHeaders leaves its bytes for SendBody to send with the body
  std::string serverSoftware_ = kServerSoftwareName;
  std::string basicRealm_;
};

}  // namespace tovi::http
