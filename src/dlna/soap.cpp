#include "dlna/soap.h"

#include "dlna/upnp_error.h"

namespace tovi::dlna {
namespace {

constexpr const char* kEnvelopeStart =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
constexpr const char* kEnvelopeEnd = "</s:Body></s:Envelope>\r\n";

std::string TrimXmlSpace(const std::string& s) {
  const char* kSpace = " \t\r\n";
  const std::size_t first = s.find_first_not_of(kSpace);
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(kSpace) - first + 1);
}

}  // namespace

const std::string* SoapAction::Argument(std::string_view argName) const {
  for (const auto& [name, value] : arguments) {
    if (name == argName) return &value;
  }
  return nullptr;
}

const std::string& SoapAction::Required(std::string_view argName) const {
  const std::string* value = Argument(argName);
  if (value == nullptr) throw InvalidArgs();
  return *value;
}

std::uint32_t SoapAction::Ui4(std::string_view argName) const {
  const std::string* value = Argument(argName);
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

SoapAction ParseSoapAction(std::string_view body) {
  XmlElement envelope;
  try {
    XmlLimits limits;
    limits.maxBytes = kMaxSoapBodyBytes;
    envelope = ParseXml(body, limits);
  } catch (const XmlError&) {
    throw InvalidAction();
  }
  if (envelope.name != "Envelope") throw InvalidAction();
  const XmlElement* soapBody = envelope.Child("Body");
  if (soapBody == nullptr || soapBody->children.empty()) throw InvalidAction();
  const XmlElement& action = soapBody->children.front();
  SoapAction out;
  out.serviceType = action.ns;
  out.name = action.name;
  for (const XmlElement& argument : action.children) {
    out.arguments.emplace_back(argument.name, TrimXmlSpace(argument.text));
  }
  return out;
}

std::string SoapResponse(std::string_view serviceType, std::string_view action,
                         const SoapArguments& out) {
  std::string xml = kEnvelopeStart;
  xml += "<u:";
  xml += action;
  xml += "Response xmlns:u=\"";
  xml += XmlEscape(serviceType);
  xml += "\">";
  for (const auto& [name, value] : out) {
    xml += "<" + name + ">" + XmlEscape(value) + "</" + name + ">";
  }
  xml += "</u:";
  xml += action;
  xml += "Response>";
  xml += kEnvelopeEnd;
  return xml;
}

std::string SoapFault(int code, std::string_view description) {
  std::string xml = kEnvelopeStart;
  xml +=
      "<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
      "<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>";
  xml += std::to_string(code);
  xml += "</errorCode><errorDescription>";
  xml += XmlEscape(description);
  xml += "</errorDescription></UPnPError></detail></s:Fault>";
  xml += kEnvelopeEnd;
  return xml;
}

}  // namespace tovi::dlna
