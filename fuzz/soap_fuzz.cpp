// Fuzzes the XML reader and the SOAP action reader with what a control point could send as a
// request body. Either may refuse (XmlError, UpnpError 401) but never crash or read past the
// input; what the reader takes must keep its bounds, and any text it read must come back the
// same through XmlEscape and a second reading.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "dlna/soap.h"
#include "dlna/upnp_error.h"
#include "dlna/xml.h"
#include "platform/utf8.h"

using namespace tovi::dlna;

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// Room for a text of the document escaped: at most six bytes for one.
XmlLimits RoundTripLimits(std::size_t textBytes) {
  XmlLimits limits;
  limits.maxBytes = textBytes * 6 + 64;
  return limits;
}

void CheckTree(const XmlElement& e, int depth, const XmlLimits& limits, std::size_t* elements,
               std::size_t inputBytes) {
  if (depth > limits.maxDepth) Fail("deeper than the bound");
  if (++*elements > limits.maxElements) Fail("more elements than the bound");
  if (e.name.size() > inputBytes || e.text.size() > inputBytes) Fail("more than the input");
  const std::string doc = "<a>" + XmlEscape(e.text) + "</a>";
  try {
    // Bytes that are not UTF-8 come back as U+FFFD, as the reader takes bytes as they come.
    const std::string back = ParseXml(doc, RoundTripLimits(e.text.size())).text;
    if (tovi::text::IsWellFormedUtf8(e.text) && back != e.text) Fail("text changed");
  } catch (const XmlError&) {
    Fail("escaped text refused");
  }
  for (const auto& [name, value] : e.attributes) {
    const std::string withValue = "<a v=\"" + XmlEscape(value) + "\"/>";
    try {
      const std::string back = ParseXml(withValue, RoundTripLimits(value.size())).attributes.at(0).second;
      if (tovi::text::IsWellFormedUtf8(value) && back != value) Fail("attribute value changed");
    } catch (const XmlError&) {
      Fail("escaped attribute value refused");
    }
  }
  for (const XmlElement& c : e.children) CheckTree(c, depth + 1, limits, elements, inputBytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  XmlLimits limits;
  try {
    const XmlElement root = ParseXml(input, limits);
    std::size_t elements = 0;
    CheckTree(root, 1, limits, &elements, size);
  } catch (const XmlError&) {
  }
  try {
    const SoapAction action = ParseSoapAction(input);
    for (const auto& [name, value] : action.arguments) {
      if (value.size() > size) Fail("argument longer than the input");
      const std::string_view space = " \t\r\n";
      if (!value.empty() && (space.find(value.front()) != std::string_view::npos ||
                             space.find(value.back()) != std::string_view::npos))
        Fail("argument not trimmed");
    }
    // The response and fault writers take whatever was read.
    SoapResponse(action.serviceType, action.name, action.arguments);
  } catch (const UpnpError& e) {
    if (e.Code() != 401) Fail("refused with another code than 401");
  }
  return 0;
}
