#include "dlna/description.h"

#include "dlna/device.h"
#include "dlna/services.h"
#include "dlna/xml.h"

namespace tovi::dlna {
namespace {

constexpr const char* kManufacturer = "Remote Toviplayer";
constexpr const char* kModelName = "Remote Toviplayer";
constexpr const char* kModelNumber = "1.1";
// Samsung TVs ask for a video's subtitle (getCaptionInfo.sec) and its duration
// (getMediaInfo.sec), and keep resume positions (DCM10), only with servers that name the
// capability here.
constexpr const char* kSamsungCapabilities = "smi,DCM10,getMediaInfo.sec,getCaptionInfo.sec";

constexpr const char* kSpecVersion = "<specVersion><major>1</major><minor>0</minor></specVersion>";

std::string Element(const char* name, std::string_view text) {
  return std::string("<") + name + ">" + XmlEscape(text) + "</" + name + ">";
}

std::string WriteScpd(const ServiceTable& scpd) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">";
  xml += kSpecVersion;
  xml += "<actionList>";
  for (const ActionEntry& action : scpd.actions) {
    if (!action.described) continue;
    xml += "<action>" + Element("name", action.name) + "<argumentList>";
    for (const ArgumentEntry& a : action.arguments) {
      xml += "<argument>" + Element("name", a.name) + Element("direction", a.in ? "in" : "out") +
             Element("relatedStateVariable", a.stateVariable) + "</argument>";
    }
    xml += "</argumentList></action>";
  }
  xml += "</actionList><serviceStateTable>";
  for (const VariableEntry& v : scpd.variables) {
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
  const ServiceTable* table = ServiceTableOf(serviceType);
  return table ? WriteScpd(*table) : std::string();
}

}  // namespace tovi::dlna
