#include "dlna/upnp_handler.h"

#include <utility>

#include "dlna/device.h"
#include "dlna/upnp_error.h"
#include "http/base_url.h"

namespace tovi::dlna {
namespace {

constexpr const char* kXmlContentType = "text/xml; charset=\"utf-8\"";

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (const std::string& p : parts) {
    if (!out.empty()) out += separator;
    out += p;
  }
  return out;
}

}  // namespace

UpnpRequestHandler::UpnpRequestHandler(DeviceFacts device, ContentSource& content,
                                       std::vector<std::string> sourceProtocolInfo,
                                       UpnpHandlerOptions options)
    : description_(DeviceDescription(device)),
      state_{content, Join(sourceProtocolInfo, ","), {}},
      options_(std::move(options)),
      events_(std::make_unique<EventPublisher>(
          [this](const ServiceUrls& service) { return EventedState(service); },
          options_.eventing)) {}

void UpnpRequestHandler::Handle(http::TNetTCPServerConnection& connection, http::TNetHTTPRequestInfo& request,
                                http::TNetHTTPResponseInfo& response) {
  const std::string& query = request.QueryText();
  const std::string& method = request.RequestMethod();
  const bool read = method == "GET" || method == "HEAD";
  const auto startsWith = [&query](const char* prefix) {
    return query.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
  };
  const bool resource = startsWith(kResourceQueryPrefix) || startsWith(kArtQueryPrefix);
  if (resource && read) {
    return state_.content.StreamResource(connection, request, response,
                                         PlayerOf(request.HeaderLines()));
  }
  response.SetServer(options_.serverHeader);
  // Open as far as the request lets it (the engine closes it when the request asks to, or
  // leaves a body unread): TVs go on with their next call on the same connection.
  response.SetCloseAfterResponse(false);
  auto refuse = [&response](const char* allowed) {
    response.SetResponseCode(405);
    response.CustomHeaders().Add(std::string("Allow: ") + allowed);
  };
  if (resource) return refuse("GET, HEAD");
  if (query == kDescriptionQuery) {
    if (!read) return refuse("GET, HEAD");
    return AnswerDocument(description_, response);
  }
  for (const ServiceUrls& service : kServices) {
    if (query == service.description) {
      if (!read) return refuse("GET, HEAD");
      return AnswerDocument(ServiceDescription(service.type), response);
    }
    if (query == service.control) {
      if (method != "POST") return refuse("POST");
      return AnswerControl(service, connection, request, response);
    }
    if (query == service.events) {
      if (method != "SUBSCRIBE" && method != "UNSUBSCRIBE") return refuse("SUBSCRIBE, UNSUBSCRIBE");
      return events_->Handle(service, request, response);
    }
  }
  response.SetResponseCode(404);
}

void UpnpRequestHandler::AnswerDocument(const std::string& xml,
                                        http::TNetHTTPResponseInfo& response) {
  response.SetContentType(kXmlContentType);
  response.SetBodyText(xml);
}

void UpnpRequestHandler::AnswerControl(const ServiceUrls& service, http::TNetTCPServerConnection& connection,
                                       http::TNetHTTPRequestInfo& request,
                                       http::TNetHTTPResponseInfo& response) {
  if (request.FormText().size() > kMaxSoapBodyBytes) {
    response.SetResponseCode(413);
    response.SetCloseAfterResponse(true);
    return;
  }
  response.SetContentType(kXmlContentType);
  response.CustomHeaders().Add("EXT:");
  const http::TNetSocketHandle& local = connection.Binding();
  const std::string baseUrl = http::BaseUrl(local.IP(), local.Port());
  try {
    const SoapAction action = ParseSoapAction(request.FormText());
    std::shared_ptr<void> keep;
    const ActionCall call{action, state_, baseUrl, PlayerOf(request.HeaderLines()), &keep,
                          request.RemoteAddress()};
    const SoapArguments out = Perform(service, call);
    std::string body = SoapResponse(service.type, action.name, out);
    if (keep) {
      using HeldBody = http::THoldingMemoryStream<std::shared_ptr<void>>;
      response.SetBodyStream(std::make_unique<HeldBody>(std::move(body), std::move(keep)));
    } else {
      response.SetBodyText(body);
    }
  } catch (const UpnpError& e) {
    response.SetResponseCode(500);
    response.SetBodyText(SoapFault(e.Code(), e.what()));
  } catch (const std::exception&) {
    const UpnpError failed = ActionFailed();
    response.SetResponseCode(500);
    response.SetBodyText(SoapFault(failed.Code(), failed.what()));
  }
}

SoapArguments UpnpRequestHandler::Perform(const ServiceUrls& service, const ActionCall& call) {
  const ServiceTable* table = ServiceTableOf(service.type);
  const ActionEntry* action = table ? ActionOf(*table, call.action.name) : nullptr;
  if (action == nullptr) throw InvalidAction();
  return action->handler(call);
}

std::vector<std::pair<std::string, std::string>> UpnpRequestHandler::EventedState(
    const ServiceUrls& service) {
  std::vector<std::pair<std::string, std::string>> state;
  const ServiceTable* table = ServiceTableOf(service.type);
  if (table == nullptr) return state;
  for (const VariableEntry& variable : table->variables) {
    if (variable.evented) state.emplace_back(variable.name, variable.evented(state_));
  }
  return state;
}

}  // namespace tovi::dlna
