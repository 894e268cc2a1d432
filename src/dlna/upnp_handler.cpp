#include "dlna/upnp_handler.h"

#include <cstdint>
#include <utility>

#include "dlna/device.h"
#include "dlna/upnp_error.h"
#include "http/header_list.h"

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

// HTTP/1.1 keeps a connection unless told to close; HTTP/1.0 closes unless told to keep it.
// A body the engine leaves unread (any but a POST's) closes it in any case.
bool AsksToClose(const http::TNetHTTPRequestInfo& request) {
  if (request.RequestMethod() != "POST" &&
      (request.ContentLength() > 0 || !request.HeaderLines().Values("Transfer-Encoding").empty()))
    return true;
  const std::string connection = http::LowerCase(request.HeaderLines().Values("Connection"));
  if (request.HttpVersion() == "HTTP/1.0") return connection.find("keep-alive") == std::string::npos;
  return connection.find("close") != std::string::npos;
}

const std::string& Required(const SoapAction& action, std::string_view name) {
  const std::string* value = action.Argument(name);
  if (value == nullptr) throw InvalidArgs();
  return *value;
}

// An unsigned 32-bit argument in decimal; absent: 0 (some control points leave out what they
// do not use).
std::uint32_t Ui4(const SoapAction& action, std::string_view name) {
  const std::string* value = action.Argument(name);
  if (value == nullptr) return 0;
  if (value->empty() || value->size() > 10) throw InvalidArgs();
  std::uint64_t n = 0;
  for (const char c : *value) {
    if (c < '0' || c > '9') throw InvalidArgs();
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (n > 0xFFFFFFFFu) throw InvalidArgs();
  return static_cast<std::uint32_t>(n);
}

}  // namespace

UpnpRequestHandler::UpnpRequestHandler(DeviceFacts device, ContentSource& content,
                                       std::vector<std::string> sourceProtocolInfo,
                                       UpnpHandlerOptions options)
    : description_(DeviceDescription(device)),
      content_(content),
      sourceProtocolInfo_(Join(sourceProtocolInfo, ",")),
      options_(std::move(options)),
      events_(std::make_unique<EventPublisher>(
          [this](const ServiceUrls& service) { return EventedState(service); },
          options_.eventing)) {}

void UpnpRequestHandler::Handle(http::TNetPeerThread& thread, http::TNetHTTPRequestInfo& request,
                                http::TNetHTTPResponseInfo& response) {
  const std::string& query = request.QueryText();
  const std::string& method = request.RequestMethod();
  const bool read = method == "GET" || method == "HEAD";
  const auto startsWith = [&query](const char* prefix) {
    return query.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
  };
  const bool resource = startsWith(kResourceQueryPrefix) || startsWith(kArtQueryPrefix);
  if (resource && read) return content_.StreamResource(thread, request, response);
  response.SetServer(options_.serverHeader);
  response.SetCloseAfterResponse(AsksToClose(request));
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
      return AnswerControl(service, thread, request, response);
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

void UpnpRequestHandler::AnswerControl(const ServiceUrls& service, http::TNetPeerThread& thread,
                                       http::TNetHTTPRequestInfo& request,
                                       http::TNetHTTPResponseInfo& response) {
  if (request.FormText().size() > kMaxSoapBodyBytes) {
    response.SetResponseCode(413);
    response.SetCloseAfterResponse(true);
    return;
  }
  response.SetContentType(kXmlContentType);
  response.CustomHeaders().Add("EXT:");
  const http::TNetSocketHandle& local = thread.Connection().Binding();
  const std::string baseUrl = "http://" + local.IP() + ":" + std::to_string(local.Port());
  try {
    const SoapAction action = ParseSoapAction(request.FormText());
    const SoapArguments out = Perform(service, action, baseUrl);
    response.SetBodyText(SoapResponse(service.type, action.name, out));
  } catch (const UpnpError& e) {
    response.SetResponseCode(500);
    response.SetBodyText(SoapFault(e.Code(), e.what()));
  } catch (const std::exception&) {
    const UpnpError failed = ActionFailed();
    response.SetResponseCode(500);
    response.SetBodyText(SoapFault(failed.Code(), failed.what()));
  }
}

SoapArguments UpnpRequestHandler::Perform(const ServiceUrls& service, const SoapAction& action,
                                          const std::string& baseUrl) {
  const std::string& name = action.name;
  const std::string_view type = service.type;
  if (type == kContentDirectoryType) {
    if (name == "Browse") return Browse(action, baseUrl);
    if (name == "GetSearchCapabilities") return {{"SearchCaps", ""}};
    if (name == "GetSortCapabilities") return {{"SortCaps", ""}};
    if (name == "GetSystemUpdateID") return {{"Id", std::to_string(content_.SystemUpdateId())}};
  } else if (type == kConnectionManagerType) {
    if (name == "GetProtocolInfo") return {{"Source", sourceProtocolInfo_}, {"Sink", ""}};
    if (name == "GetCurrentConnectionIDs") return {{"ConnectionIDs", "0"}};
    if (name == "GetCurrentConnectionInfo") return GetCurrentConnectionInfo(action);
  } else if (type == kRegistrarType) {
    // Every device may play from here: the registrar exists only for the TVs that ask it.
    if (name == "IsAuthorized" || name == "IsValidated") return {{"Result", "1"}};
    if (name == "RegisterDevice") return {{"RegistrationRespMsg", ""}};
  }
  throw InvalidAction();
}

SoapArguments UpnpRequestHandler::Browse(const SoapAction& action, const std::string& baseUrl) {
  BrowseRequest browse;
  browse.objectId = Required(action, "ObjectID");
  const std::string& flag = Required(action, "BrowseFlag");
  if (flag == "BrowseMetadata") {
    browse.metadata = true;
  } else if (flag != "BrowseDirectChildren") {
    throw InvalidArgs();
  }
  // Filter and SortCriteria are taken and not applied: every property is given, in the
  // tree's own order (GetSortCapabilities offers none).
  browse.start = Ui4(action, "StartingIndex");
  browse.count = Ui4(action, "RequestedCount");
  const BrowseResult result = content_.Browse(browse, baseUrl);
  return {{"Result", result.didl},
          {"NumberReturned", std::to_string(result.returned)},
          {"TotalMatches", std::to_string(result.total)},
          {"UpdateID", std::to_string(content_.SystemUpdateId())}};
}

SoapArguments UpnpRequestHandler::GetCurrentConnectionInfo(const SoapAction& action) {
  const std::string& id = Required(action, "ConnectionID");
  const std::string digits = id.substr(id[0] == '-' ? 1 : 0);
  if (id.empty() || digits.empty() || digits.size() > 10 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    throw InvalidArgs();
  // Only the one connection a server without PrepareForConnection has: 0.
  if (digits.find_first_not_of('0') != std::string::npos) throw InvalidConnectionReference();
  return {{"RcsID", "-1"},
          {"AVTransportID", "-1"},
          {"ProtocolInfo", ""},
          {"PeerConnectionManager", ""},
          {"PeerConnectionID", "-1"},
          {"Direction", "Output"},
          {"Status", "OK"}};
}

std::vector<std::pair<std::string, std::string>> UpnpRequestHandler::EventedState(
    const ServiceUrls& service) {
  const std::string_view type = service.type;
  if (type == kContentDirectoryType)
    return {{"SystemUpdateID", std::to_string(content_.SystemUpdateId())},
            {"ContainerUpdateIDs", ""}};
  if (type == kConnectionManagerType)
    return {{"SourceProtocolInfo", sourceProtocolInfo_},
            {"SinkProtocolInfo", ""},
            {"CurrentConnectionIDs", "0"}};
  return {{"AuthorizationGrantedUpdateID", "0"},
          {"AuthorizationDeniedUpdateID", "0"},
          {"ValidationSucceededUpdateID", "0"},
          {"ValidationRevokedUpdateID", "0"}};
}

}  // namespace tovi::dlna
