#include "dlna/description.h"

#include <initializer_list>

#include "dlna/device.h"
#include "dlna/xml.h"

namespace tovi::dlna {
namespace {

constexpr const char* kManufacturer = "Remote Toviplayer";
constexpr const char* kModelName = "Remote Toviplayer";
constexpr const char* kModelNumber = "1.1";
// Samsung TVs ask for the subtitle of a video (getCaptionInfo.sec) only from servers that
// name the capability here.
constexpr const char* kSamsungCapabilities = "smi,DCM10,getCaptionInfo.sec";

struct Argument {
  const char* name;
  bool in;
  const char* stateVariable;
};

struct Action {
  const char* name;
  std::initializer_list<Argument> arguments;
};

struct StateVariable {
  const char* name;
  const char* dataType;
  bool evented;
  std::initializer_list<const char*> allowed;
};

struct Scpd {
  const char* serviceType;
  std::initializer_list<Action> actions;
  std::initializer_list<StateVariable> variables;
};

const Scpd kScpds[] = {
    {kContentDirectoryType,
     {
         {"GetSearchCapabilities", {{"SearchCaps", false, "SearchCapabilities"}}},
         {"GetSortCapabilities", {{"SortCaps", false, "SortCapabilities"}}},
         {"GetSystemUpdateID", {{"Id", false, "SystemUpdateID"}}},
         {"Browse",
          {{"ObjectID", true, "A_ARG_TYPE_ObjectID"},
           {"BrowseFlag", true, "A_ARG_TYPE_BrowseFlag"},
           {"Filter", true, "A_ARG_TYPE_Filter"},
           {"StartingIndex", true, "A_ARG_TYPE_Index"},
           {"RequestedCount", true, "A_ARG_TYPE_Count"},
           {"SortCriteria", true, "A_ARG_TYPE_SortCriteria"},
           {"Result", false, "A_ARG_TYPE_Result"},
           {"NumberReturned", false, "A_ARG_TYPE_Count"},
           {"TotalMatches", false, "A_ARG_TYPE_Count"},
           {"UpdateID", false, "A_ARG_TYPE_UpdateID"}}},
     },
     {
         {"SearchCapabilities", "string", false, {}},
         {"SortCapabilities", "string", false, {}},
         {"SystemUpdateID", "ui4", true, {}},
         {"ContainerUpdateIDs", "string", true, {}},
         {"A_ARG_TYPE_ObjectID", "string", false, {}},
         {"A_ARG_TYPE_Result", "string", false, {}},
         {"A_ARG_TYPE_BrowseFlag", "string", false, {"BrowseMetadata", "BrowseDirectChildren"}},
         {"A_ARG_TYPE_Filter", "string", false, {}},
         {"A_ARG_TYPE_SortCriteria", "string", false, {}},
         {"A_ARG_TYPE_Index", "ui4", false, {}},
         {"A_ARG_TYPE_Count", "ui4", false, {}},
         {"A_ARG_TYPE_UpdateID", "ui4", false, {}},
     }},
    {kConnectionManagerType,
     {
         {"GetProtocolInfo",
          {{"Source", false, "SourceProtocolInfo"}, {"Sink", false, "SinkProtocolInfo"}}},
         {"GetCurrentConnectionIDs", {{"ConnectionIDs", false, "CurrentConnectionIDs"}}},
         {"GetCurrentConnectionInfo",
          {{"ConnectionID", true, "A_ARG_TYPE_ConnectionID"},
           {"RcsID", false, "A_ARG_TYPE_RcsID"},
           {"AVTransportID", false, "A_ARG_TYPE_AVTransportID"},
           {"ProtocolInfo", false, "A_ARG_TYPE_ProtocolInfo"},
           {"PeerConnectionManager", false, "A_ARG_TYPE_ConnectionManager"},
           {"PeerConnectionID", false, "A_ARG_TYPE_ConnectionID"},
           {"Direction", false, "A_ARG_TYPE_Direction"},
           {"Status", false, "A_ARG_TYPE_ConnectionStatus"}}},
     },
     {
         {"SourceProtocolInfo", "string", true, {}},
         {"SinkProtocolInfo", "string", true, {}},
         {"CurrentConnectionIDs", "string", true, {}},
         {"A_ARG_TYPE_ConnectionStatus", "string", false,
          {"OK", "ContentFormatMismatch", "InsufficientBandwidth", "UnreliableChannel",
           "Unknown"}},
         {"A_ARG_TYPE_ConnectionManager", "string", false, {}},
         {"A_ARG_TYPE_Direction", "string", false, {"Input", "Output"}},
         {"A_ARG_TYPE_ProtocolInfo", "string", false, {}},
         {"A_ARG_TYPE_ConnectionID", "i4", false, {}},
         {"A_ARG_TYPE_AVTransportID", "i4", false, {}},
         {"A_ARG_TYPE_RcsID", "i4", false, {}},
     }},
    {kRegistrarType,
     {
         {"IsAuthorized",
          {{"DeviceID", true, "A_ARG_TYPE_DeviceID"}, {"Result", false, "A_ARG_TYPE_Result"}}},
         {"RegisterDevice",
          {{"RegistrationReqMsg", true, "A_ARG_TYPE_RegistrationReqMsg"},
           {"RegistrationRespMsg", false, "A_ARG_TYPE_RegistrationRespMsg"}}},
         {"IsValidated",
          {{"DeviceID", true, "A_ARG_TYPE_DeviceID"}, {"Result", false, "A_ARG_TYPE_Result"}}},
     },
     {
         {"A_ARG_TYPE_DeviceID", "string", false, {}},
         {"A_ARG_TYPE_Result", "int", false, {}},
         {"A_ARG_TYPE_RegistrationReqMsg", "bin.base64", false, {}},
         {"A_ARG_TYPE_RegistrationRespMsg", "bin.base64", false, {}},
         {"AuthorizationGrantedUpdateID", "ui4", true, {}},
         {"AuthorizationDeniedUpdateID", "ui4", true, {}},
         {"ValidationSucceededUpdateID", "ui4", true, {}},
         {"ValidationRevokedUpdateID", "ui4", true, {}},
     }},
};

constexpr const char* kSpecVersion = "<specVersion><major>1</major><minor>0</minor></specVersion>";

std::string Element(const char* name, std::string_view text) {
  return std::string("<") + name + ">" + XmlEscape(text) + "</" + name + ">";
}

std::string WriteScpd(const Scpd& scpd) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">";
  xml += kSpecVersion;
  xml += "<actionList>";
  for (const Action& action : scpd.actions) {
    xml += "<action>" + Element("name", action.name) + "<argumentList>";
    for (const Argument& a : action.arguments) {
      xml += "<argument>" + Element("name", a.name) + Element("direction", a.in ? "in" : "out") +
             Element("relatedStateVariable", a.stateVariable) + "</argument>";
    }
    xml += "</argumentList></action>";
  }
  xml += "</actionList><serviceStateTable>";
  for (const StateVariable& v : scpd.variables) {
    xml += std::string("<stateVariable sendEvents=\"") + (v.evented ? "yes" : "no") + "\">" +
           Element("name", v.name) + Element("dataType", v.dataType);
    if (v.allowed.size() > 0) {
      xml += "<allowedValueList>";
      for (const char* value : v.allowed) xml += Element("allowedValue", value);
      xml += "</allowedValueList>";
    }
    xml += "</stateVariable>";
  }
  xml += "</serviceStateTable></scpd>\r\n";
  return xml;
}

}  // namespace

std::string DeviceUdn(const DeviceFacts& device) {
  return device.uuid.compare(0, 5, "uuid:") == 0 ? device.uuid : "uuid:" + device.uuid;
}

std::string DeviceDescription(const DeviceFacts& device) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<root xmlns=\"urn:schemas-upnp-org:device-1-0\" "
      "xmlns:dlna=\"urn:schemas-dlna-org:device-1-0\" xmlns:sec=\"http://www.sec.co.kr/dlna\">";
  xml += kSpecVersion;
  xml += "<device>";
  xml += Element("deviceType", kDeviceType);
  xml += Element("dlna:X_DLNADOC", "DMS-1.50");
  xml += Element("friendlyName", device.friendlyName);
  xml += Element("manufacturer", kManufacturer);
  xml += Element("modelDescription", "Media files of this PC");
  xml += Element("modelName", kModelName);
  xml += Element("modelNumber", kModelNumber);
  xml += Element("UDN", DeviceUdn(device));
  xml += Element("sec:ProductCap", kSamsungCapabilities);
  xml += "<serviceList>";
  for (const ServiceUrls& s : kServices) {
    xml += "<service>" + Element("serviceType", s.type) + Element("serviceId", s.id) +
           Element("SCPDURL", UrlTarget(s.description)) +
           Element("controlURL", UrlTarget(s.control)) +
           Element("eventSubURL", UrlTarget(s.events)) + "</service>";
  }
  xml += "</serviceList></device></root>\r\n";
  return xml;
}

std::string ServiceDescription(std::string_view serviceType) {
  for (const Scpd& scpd : kScpds) {
    if (serviceType == scpd.serviceType) return WriteScpd(scpd);
  }
  return {};
}

}  // namespace tovi::dlna
