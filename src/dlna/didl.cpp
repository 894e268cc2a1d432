#include "dlna/didl.h"

#include "dlna/device.h"
#include "platform/utf8.h"

namespace tovi::dlna {

namespace {

constexpr const char* kDocumentStart =
    "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\""
    " xmlns:dc=\"http://purl.org/dc/elements/1.1/\""
    " xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\""
    " xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\""
    " xmlns:sec=\"http://www.sec.co.kr/\">";
constexpr const char* kDocumentEnd = "</DIDL-Lite>";
constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Text for an element or a quoted attribute. Unlike a plain escape it also replaces what XML
// cannot carry, since file names hold whatever the file system lets them.
std::string XmlText(std::string_view text) {
  const std::string bytes(text);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    char32_t cp = 0;
    const std::size_t length = text::Utf8SequenceLength(bytes, pos, &cp);
    if (length == 0) {
      out += kReplacement;
      ++pos;
      continue;
    }
    const bool allowed = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp != 0xFFFE && cp != 0xFFFF);
    if (!allowed) {
      out += kReplacement;
    } else if (cp == '&') {
      out += "&amp;";
    } else if (cp == '<') {
      out += "&lt;";
    } else if (cp == '>') {
      out += "&gt;";
    } else if (cp == '"') {
      out += "&quot;";
    } else if (cp == '\'') {
      out += "&apos;";
    } else {
      out.append(bytes, pos, length);
    }
    pos += length;
  }
  return out;
}

std::string Element(const char* name, std::string_view text) {
  return std::string("<") + name + ">" + XmlText(text) + "</" + name + ">";
}

}  // namespace

void DidlWriter::Add(const DidlContainer& container) {
  body_ += "<container id=\"" + XmlText(container.id) + "\" parentID=\"" +
           XmlText(container.parentId) + "\" restricted=\"1\" searchable=\"0\"";
  if (container.childCount) body_ += " childCount=\"" + std::to_string(*container.childCount) + "\"";
  body_ += ">";
  body_ += Element("dc:title", container.title);
  body_ += Element("upnp:class", kFolderClass);
  body_ += "</container>";
}

void DidlWriter::Add(const DidlItem& item) {
  body_ += "<item id=\"" + XmlText(item.id) + "\" parentID=\"" + XmlText(item.parentId) +
           "\" restricted=\"1\">";
  body_ += Element("dc:title", item.title);
  body_ += Element("upnp:class", UpnpClassOf(item.type->kind));
  if (!item.subtitleUrl.empty()) {
    // The elements Samsung's players read the subtitle's address from.
    const std::string url = XmlText(item.subtitleUrl);
    body_ += "<sec:CaptionInfoEx sec:type=\"srt\">" + url + "</sec:CaptionInfoEx>";
    body_ += "<sec:CaptionInfo sec:type=\"srt\">" + url + "</sec:CaptionInfo>";
  }
  body_ += "<res";
  if (item.size) body_ += " size=\"" + std::to_string(*item.size) + "\"";
  body_ += " protocolInfo=\"" + XmlText(ProtocolInfo(*item.type)) + "\">" + XmlText(item.url) + "</res>";
  if (!item.subtitleUrl.empty()) {
    body_ += "<res protocolInfo=\"" + XmlText(SubtitleProtocolInfo()) + "\">" +
             XmlText(item.subtitleUrl) + "</res>";
  }
  body_ += "</item>";
}

std::string DidlWriter::Document() const { return kDocumentStart + body_ + kDocumentEnd; }

std::string ResourceUrl(std::string_view baseUrl, std::string_view id, std::string_view extension) {
  std::string query = kResourceQueryPrefix;
  query += id;
  query += '.';
  query += extension;
  return std::string(baseUrl) + UrlTarget(query);
}

}  // namespace tovi::dlna
