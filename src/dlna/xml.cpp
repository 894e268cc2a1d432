#include "dlna/xml.h"

#include <array>
#include <cstdint>
#include <unordered_set>

#include "platform/utf8.h"

namespace tovi::dlna {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// What XML forbids in character data even raw, starting at s[pos], or null: a control byte save
// TAB, LF and CR, or U+FFFE / U+FFFF. XmlEscape writes the latter as U+FFFD: a reader that took
// them would read what cannot be written back.
const char* ForbiddenAt(std::string_view s, std::size_t pos) {
  const auto b = static_cast<unsigned char>(s[pos]);
  if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') return "control byte";
  if (b == 0xEF && s.size() - pos >= 3 && s[pos + 1] == '\xBF' &&
      (s[pos + 2] == '\xBE' || s[pos + 2] == '\xBF')) {
    return "forbidden character";
  }
  return nullptr;
}

bool IsNameByte(char c) {
  const auto b = static_cast<unsigned char>(c);
  if (b >= 0x80) return true;  // any UTF-8 sequence: names in other scripts
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '_' || c == ':' || c == '-' || c == '.';
}

bool IsNameStart(char c) {
  return IsNameByte(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.';
}

void AppendUtf8(std::uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsXmlChar(std::uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

// A namespace declaration in scope: prefix ("" for the default namespace) and its URI.
struct Binding {
  std::string prefix;
  std::string uri;
};

class Reader {
 public:
  Reader(std::string_view doc, const XmlLimits& limits) : doc_(doc), limits_(limits) {}

  XmlElement Document() {
    if (doc_.size() > limits_.maxBytes) Fail("document too large");
    if (doc_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    SkipMisc();
    if (AtEnd() || doc_[pos_] != '<') Fail("no root element");
    XmlElement root = Element(1);
    SkipMisc();
    if (!AtEnd()) Fail("content after the root element");
    return root;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw XmlError("XML: " + what + " at byte " + std::to_string(pos_));
  }
  bool AtEnd() const { return pos_ >= doc_.size(); }
  bool LooksAt(std::string_view s) const { return doc_.substr(pos_, s.size()) == s; }
  void SkipSpace() {
    while (!AtEnd() && IsSpace(doc_[pos_])) ++pos_;
  }
  // Moves past the next `end`; fails when the input ends first.
  std::string_view Through(std::string_view end, const char* what) {
    const std::size_t at = doc_.find(end, pos_);
    if (at == std::string_view::npos) Fail(std::string("unterminated ") + what);
    const std::string_view inside = doc_.substr(pos_, at - pos_);
    pos_ = at + end.size();
    return inside;
  }

  // Whitespace, comments and processing instructions before and after the root.
  void SkipMisc() {
    for (;;) {
      SkipSpace();
      if (LooksAt("<?")) {
        pos_ += 2;
        Through("?>", "processing instruction");
      } else if (LooksAt("<!--")) {
        pos_ += 4;
        Through("-->", "comment");
      } else if (LooksAt("<!")) {
        // A document type could declare entities that expand without bound: never taken.
        Fail("declaration not allowed");
      } else {
        return;
      }
    }
  }

  std::string Name() {
    const std::size_t start = pos_;
    if (AtEnd() || !IsNameStart(doc_[pos_])) Fail("name expected");
    while (!AtEnd() && IsNameByte(doc_[pos_])) ++pos_;
    return std::string(doc_.substr(start, pos_ - start));
  }

  // At '&': the entity's text appended to out.
  void Entity(std::string& out) {
    ++pos_;
    const std::size_t semi = doc_.find(';', pos_);
    // The longest entity taken is "&#x10FFFF;" with leading zeros bounded.
    if (semi == std::string_view::npos || semi - pos_ > 12) Fail("bad entity");
    const std::string_view name = doc_.substr(pos_, semi - pos_);
    if (name == "lt") {
      out += '<';
    } else if (name == "gt") {
      out += '>';
    } else if (name == "amp") {
      out += '&';
    } else if (name == "quot") {
      out += '"';
    } else if (name == "apos") {
      out += '\'';
    } else if (name.size() >= 2 && name[0] == '#') {
      const bool hex = name[1] == 'x';
      const std::string_view digits = name.substr(hex ? 2 : 1);
      if (digits.empty()) Fail("bad character reference");
      std::uint32_t cp = 0;
      for (const char c : digits) {
        std::uint32_t d;
        if (c >= '0' && c <= '9') {
          d = static_cast<std::uint32_t>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
          d = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
          d = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
          Fail("bad character reference");
        }
        cp = cp * (hex ? 16 : 10) + d;
        if (cp > 0x10FFFF) Fail("bad character reference");
      }
      if (!IsXmlChar(cp)) Fail("character reference to a forbidden character");
      AppendUtf8(cp, out);
    } else {
      Fail("unknown entity");
    }
    pos_ = semi + 1;
  }

  std::string AttributeValue() {
    if (AtEnd() || (doc_[pos_] != '"' && doc_[pos_] != '\'')) Fail("quoted value expected");
    const char quote = doc_[pos_++];
    std::string value;
    for (;;) {
      if (AtEnd()) Fail("unterminated attribute value");
      const char c = doc_[pos_];
      if (c == quote) {
        ++pos_;
        return value;
      }
      if (c == '<') Fail("'<' in an attribute value");
      if (const char* forbidden = ForbiddenAt(doc_, pos_)) Fail(forbidden);
      if (c == '&') {
        Entity(value);
      } else {
        // Line ends and tabs in a value read as spaces (attribute value normalisation).
        value += IsSpace(c) ? ' ' : c;
        ++pos_;
      }
    }
  }

  static std::string_view PrefixOf(std::string_view qname) {
    const std::size_t colon = qname.find(':');
    return colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
  }
  static std::string LocalOf(std::string_view qname) {
    const std::size_t colon = qname.find(':');
    return std::string(colon == std::string_view::npos ? qname : qname.substr(colon + 1));
  }
  std::string Resolve(std::string_view prefix) const {
    for (auto it = scope_.rbegin(); it != scope_.rend(); ++it) {
      if (it->prefix == prefix) return it->uri;
    }
    return {};  // an undeclared prefix: no namespace, as lenient readers take it
  }

  // One pass with a set, so that many attributes cost no more than their count.
  void RefuseDuplicates(const std::vector<std::pair<std::string, std::string>>& raw) {
    std::unordered_set<std::string_view> seen;
    seen.reserve(raw.size());
    for (const auto& [n, v] : raw) {
      if (!seen.insert(n).second) Fail("attribute given twice");
    }
  }

  // At '<' of a start tag.
  XmlElement Element(int depth) {
    if (depth > limits_.maxDepth) Fail("nesting too deep");
    if (++elements_ > limits_.maxElements) Fail("too many elements");
    ++pos_;
    const std::string qname = Name();
    const std::size_t scopeBefore = scope_.size();
    XmlElement element;
    std::vector<std::pair<std::string, std::string>> raw;  // qualified names, for duplicates
    bool empty = false;
    for (;;) {
      const std::size_t before = pos_;
      SkipSpace();
      if (AtEnd()) Fail("unterminated start tag");
      if (LooksAt("/>")) {
        pos_ += 2;
        empty = true;
        break;
      }
      if (doc_[pos_] == '>') {
        ++pos_;
        break;
      }
      if (pos_ == before) Fail("space expected before an attribute");
      std::string name = Name();
      SkipSpace();
      if (AtEnd() || doc_[pos_] != '=') Fail("'=' expected");
      ++pos_;
      SkipSpace();
      std::string value = AttributeValue();
      if (raw.size() == limits_.maxAttributesPerElement) Fail("too many attributes");
      raw.emplace_back(std::move(name), std::move(value));
    }
    RefuseDuplicates(raw);
    for (const auto& [n, v] : raw) {
      if (n == "xmlns") {
        scope_.push_back({"", v});
      } else if (n.compare(0, 6, "xmlns:") == 0) {
        scope_.push_back({n.substr(6), v});
      }
    }
    for (auto& [n, v] : raw) {
      if (n != "xmlns" && n.compare(0, 6, "xmlns:") != 0)
        element.attributes.emplace_back(LocalOf(n), std::move(v));
    }
    element.ns = Resolve(PrefixOf(qname));
    element.name = LocalOf(qname);
    if (!empty) Content(element, qname, depth);
    scope_.resize(scopeBefore);
    return element;
  }

  // After the start tag: text, children, up to and through the matching end tag.
  void Content(XmlElement& element, const std::string& qname, int depth) {
    for (;;) {
      if (AtEnd()) Fail("element '" + qname + "' not closed");
      const char c = doc_[pos_];
      if (c == '&') {
        Entity(element.text);
      } else if (c != '<') {
        if (const char* forbidden = ForbiddenAt(doc_, pos_)) Fail(forbidden);
        element.text += c;
        ++pos_;
      } else if (LooksAt("</")) {
        pos_ += 2;
        if (Name() != qname) Fail("end tag does not match '" + qname + "'");
        SkipSpace();
        if (AtEnd() || doc_[pos_] != '>') Fail("'>' expected");
        ++pos_;
        return;
      } else if (LooksAt("<!--")) {
        pos_ += 4;
        Through("-->", "comment");
      } else if (LooksAt("<![CDATA[")) {
        pos_ += 9;
        const std::string_view data = Through("]]>", "CDATA section");
        for (std::size_t i = 0; i < data.size(); ++i) {
          if (const char* forbidden = ForbiddenAt(data, i)) Fail(forbidden);
        }
        element.text += data;
      } else if (LooksAt("<?")) {
        pos_ += 2;
        Through("?>", "processing instruction");
      } else if (LooksAt("<!")) {
        Fail("declaration not allowed");
      } else {
        element.children.push_back(Element(depth + 1));
      }
    }
  }

  std::string_view doc_;
  const XmlLimits& limits_;
  std::size_t pos_ = 0;
  std::size_t elements_ = 0;
  std::vector<Binding> scope_;
};

}  // namespace

const XmlElement* XmlElement::Child(std::string_view localName) const {
  for (const XmlElement& c : children) {
    if (c.name == localName) return &c;
  }
  return nullptr;
}

XmlElement ParseXml(std::string_view document, const XmlLimits& limits) {
  return Reader(document, limits).Document();
}

namespace {

// Printable ASCII that XML takes as it is: most of a listing, copied in runs.
constexpr std::array<bool, 256> kPlainXmlBytes = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x7F; ++c) plain[c] = true;
  for (const char c : {'&', '<', '>', '"', '\''}) plain[static_cast<unsigned char>(c)] = false;
  return plain;
}();

bool PlainXmlByte(char c) { return kPlainXmlBytes[static_cast<unsigned char>(c)]; }

}  // namespace

std::string XmlEscape(std::string_view text) {
  constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t plain = pos;
    while (plain < text.size() && PlainXmlByte(text[plain])) ++plain;
    out.append(text.substr(pos, plain - pos));
    pos = plain;
    if (pos == text.size()) break;
    char32_t cp = 0;
    const std::size_t length = text::Utf8SequenceLength(text, pos, &cp);
    // What XML 1.0 cannot carry at all (control characters, bytes that are not UTF-8) becomes
    // U+FFFD: file names hold whatever the file system lets them, and one such name would spoil
    // the whole document a control point reads.
    const bool allowed = length > 0 && (cp == 0x9 || cp == 0xA || cp == 0xD ||
                                        (cp >= 0x20 && cp != 0xFFFE && cp != 0xFFFF));
    switch (allowed ? cp : 0) {
      case 0: out += kReplacement; break;
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      // As references, so that a reader's line-end and attribute normalisation keeps them.
      case '\t': out += "&#9;"; break;
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      default: out.append(text.substr(pos, length));
    }
    pos += length > 0 ? length : 1;
  }
  return out;
}

}  // namespace tovi::dlna
