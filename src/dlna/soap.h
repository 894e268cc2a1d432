// SOAP as UPnP control uses it: the action a control point's envelope asks for, and the
// envelopes we answer with (the action's response, or a fault carrying a UPnP error).
// Pure: no I/O, safe from any thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dlna/xml.h"

namespace tovi::dlna {

// The most bytes of a SOAP request body we read: an action of ours takes a few hundred.
inline constexpr std::size_t kMaxSoapBodyBytes = 64 * 1024;

using SoapArguments = std::vector<std::pair<std::string, std::string>>;

struct SoapAction {
  std::string serviceType;  // the action element's namespace, e.g. "urn:...:ContentDirectory:1"
  std::string name;         // its local name, e.g. "Browse"
  SoapArguments arguments;  // in order; values with surrounding whitespace trimmed

  // The first argument of that name, or null.
  const std::string* Argument(std::string_view argName) const;
  // The argument's value; throws UpnpError InvalidArgs when it is absent.
  const std::string& Required(std::string_view argName) const;
  // An unsigned 32-bit argument in decimal; absent: 0 (some control points leave out what they
  // do not use). Throws UpnpError InvalidArgs for anything else.
  std::uint32_t Ui4(std::string_view argName) const;
};

// The action in an envelope (any prefixes; Envelope > Body > the action). Throws UpnpError
// InvalidAction for a body that is not such an envelope, over kMaxSoapBodyBytes or not XML the
// reader takes: no action can be told from it.
SoapAction ParseSoapAction(std::string_view body);

// The response envelope of an action: <u:{action}Response xmlns:u="{serviceType}"> with the
// out arguments in order; values are XML-escaped here.
std::string SoapResponse(std::string_view serviceType, std::string_view action,
                         const SoapArguments& out);

// The fault envelope for a UPnP error: faultcode s:Client, faultstring UPnPError, and the
// UPnPError detail with errorCode and errorDescription.
std::string SoapFault(int code, std::string_view description);

}  // namespace tovi::dlna
