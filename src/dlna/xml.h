// A small XML reader for what control points send (SOAP envelopes), and the escaping of text
// that goes into the XML we write.
//
// ParseXml reads one document into a tree of elements. It takes what real peers write: any
// namespace prefix (each element carries the namespace its prefix is bound to, and its local
// name), the five named entities and numeric ones (decimal and hex, written as UTF-8), CDATA
// sections, comments and processing instructions (skipped), whitespace anywhere between
// markup. It refuses everything else with XmlError (a document type declaration, an unknown
// entity, a tag left open or closed by another name, markup after the root, a byte that XML
// does not allow), never reading past its input.
// Bounds (XmlLimits): the document's size, the depth of nesting, the count of elements and the
// attributes of one element (checked for duplicates in linear time), so that what a peer sends
// costs at most that much memory and time.
// Pure: no I/O, safe from any thread.
#pragma once
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tovi::dlna {

class XmlError : public std::runtime_error {
 public:
  explicit XmlError(const std::string& what) : std::runtime_error(what) {}
};

struct XmlLimits {
  std::size_t maxBytes = 64 * 1024;  // a SOAP action is a few hundred bytes
  int maxDepth = 32;                 // an envelope nests four deep
  std::size_t maxElements = 1024;
  // An envelope's elements carry a few (xmlns bindings, encodingStyle); each one is kept and
  // checked against the others.
  std::size_t maxAttributesPerElement = 64;
};

struct XmlElement {
  std::string ns;     // the namespace URI its prefix (or the default namespace) is bound to
  std::string name;   // the local name, without the prefix
  std::vector<std::pair<std::string, std::string>> attributes;  // local names; no xmlns ones
  std::string text;   // the character data directly inside it, entities decoded
  std::vector<XmlElement> children;

  // The first child with that local name, or null.
  const XmlElement* Child(std::string_view localName) const;
};

// The root element. Throws XmlError for what it refuses (see above).
XmlElement ParseXml(std::string_view document, const XmlLimits& limits = {});

// Text as XML character data or an attribute value: & < > " ' as entities, TAB, LF and CR as
// character references, the control bytes XML cannot carry as U+FFFD, other bytes as they are
// (UTF-8 passes through).
std::string XmlEscape(std::string_view text);

}  // namespace tovi::dlna
