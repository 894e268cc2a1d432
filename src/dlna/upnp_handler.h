// The request handler of the media-server side: every request for which IsDlnaRequest holds
// comes here. It answers the device description and the three SCPDs (GET, HEAD), the SOAP
// actions of ContentDirectory, ConnectionManager and the media-receiver registrar (POST to a
// control URL), SUBSCRIBE and UNSUBSCRIBE to an event URL (EventPublisher), and hands a GET or
// HEAD of a file of the tree ("/?dlna/res/...") or of a picture inside one ("/?dlna/art/...") to
// ContentSource::StreamResource untouched.
// Another query gets 404, a method a URL does not take 405 with Allow.
//
// SOAP: the actions are those of the services' tables (services.h); an unknown action is fault
// 401, missing or malformed arguments 402, an object the
// content source does not know its UpnpError (701), any other failure 501; every fault is
// HTTP 500 with the UPnPError detail, and like every answer here it keeps the connection open
// unless the request asked to close it (the server's own KeepAlive setting aside), since TVs
// call vendor actions and go on on the same connection. A body over kMaxSoapBodyBytes is
// refused with 413 and the connection closed.
// The server must hand SUBSCRIBE and UNSUBSCRIBE to Handle: set its ExtraMethods to
// kEventMethods.
// Thread safety: Handle runs on connection threads, several at once; the content source must
// allow that, the publisher locks its own table.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "dlna/content_source.h"
#include "dlna/description.h"
#include "dlna/eventing.h"
#include "dlna/identity.h"
#include "dlna/services.h"
#include "dlna/soap.h"
#include "http/server/http_server.h"

namespace tovi::dlna {

// The methods besides GET, POST and HEAD this side answers: the server's ExtraMethods.
inline const std::vector<std::string> kEventMethods{"SUBSCRIBE", "UNSUBSCRIBE"};

struct UpnpHandlerOptions {
  // The SERVER header of every answer here: "<OS>/<version> UPnP/1.0 <product>/<version>",
  // the one the announcements carry.
  std::string serverHeader = ServerProduct();
  EventingLimits eventing;
};

class UpnpRequestHandler {
 public:
  // device: the UUID and friendly name the description gives. content: the tree Browse reads
  // and resources stream from; it must outlive the handler. sourceProtocolInfo: every
  // protocolInfo the tree's resources are served with (GetProtocolInfo's Source, joined by
  // commas).
  UpnpRequestHandler(DeviceFacts device, ContentSource& content,
                     std::vector<std::string> sourceProtocolInfo, UpnpHandlerOptions options = {});

  // Exceptions only from StreamResource (the engine's 500); the rest is answered here.
  void Handle(http::TNetTCPServerConnection& connection, http::TNetHTTPRequestInfo& request,
              http::TNetHTTPResponseInfo& response);

 private:
  void AnswerDocument(const std::string& xml, http::TNetHTTPResponseInfo& response);
  void AnswerControl(const ServiceUrls& service, http::TNetTCPServerConnection& connection,
                     http::TNetHTTPRequestInfo& request, http::TNetHTTPResponseInfo& response);
  // The out arguments of one action, by its service's table; throws UpnpError.
  SoapArguments Perform(const ServiceUrls& service, const ActionCall& call);
  std::vector<std::pair<std::string, std::string>> EventedState(const ServiceUrls& service);

  const std::string description_;
  ServiceState state_;
  const UpnpHandlerOptions options_;
  // Last: its sender goes before what the handler's state asks.
  std::unique_ptr<EventPublisher> events_;
};

}  // namespace tovi::dlna
