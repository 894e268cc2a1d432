#include "dlna/didl.h"

#include "dlna/device.h"
#include "dlna/xml.h"

namespace tovi::dlna {

namespace {

constexpr const char* kDocumentStart =
    "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\""
    " xmlns:dc=\"http://purl.org/dc/elements/1.1/\""
    " xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\""
    " xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\""
    " xmlns:sec=\"http://www.sec.co.kr/\">";
constexpr const char* kDocumentEnd = "</DIDL-Lite>";

std::string Element(const char* name, std::string_view text) {
  return std::string("<") + name + ">" + XmlEscape(text) + "</" + name + ">";
}

}  // namespace

void DidlWriter::Add(const DidlContainer& container) {
  body_ += "<container id=\"" + XmlEscape(container.id) + "\" parentID=\"" +
           XmlEscape(container.parentId) + "\" restricted=\"1\" searchable=\"0\"";
  if (container.childCount) body_ += " childCount=\"" + std::to_string(*container.childCount) + "\"";
  body_ += ">";
  body_ += Element("dc:title", container.title);
  body_ += Element("upnp:class", kFolderClass);
  body_ += "</container>";
}

void DidlWriter::Add(const DidlItem& item) {
  body_ += "<item id=\"" + XmlEscape(item.id) + "\" parentID=\"" + XmlEscape(item.parentId) +
           "\" restricted=\"1\">";
  body_ += Element("dc:title", item.title);
  body_ += Element("upnp:class", UpnpClassOf(item.type->kind));
  if (player_.bookmarks && bookmarks_) {
    if (const auto seconds = bookmarks_->Of(item.id))
      body_ += "<sec:dcmInfo>BM=" + std::to_string(*seconds) + "</sec:dcmInfo>";
  }
  if (player_.subtitles != SubtitleStyle::ResPerSubtitle) AddSubtitleElements(item);
  body_ += "<res";
  if (item.size) body_ += " size=\"" + std::to_string(*item.size) + "\"";
  body_ += " protocolInfo=\"" + XmlEscape(ProtocolInfoFor(player_, *item.type)) + "\">" +
           XmlEscape(item.url) + "</res>";
  if (player_.subtitles != SubtitleStyle::SamsungElements) AddSubtitleResources(item);
  body_ += "</item>";
}

void DidlWriter::AddSubtitleElements(const DidlItem& item) {
  if (item.subtitles.empty()) return;
  // The elements Samsung's players read the subtitle's address from.
  const std::string url = XmlEscape(item.subtitles.front().url);
  const std::string kind = XmlEscape(item.subtitles.front().kind);
  body_ += "<sec:CaptionInfoEx sec:type=\"" + kind + "\">" + url + "</sec:CaptionInfoEx>";
  body_ += "<sec:CaptionInfo sec:type=\"" + kind + "\">" + url + "</sec:CaptionInfo>";
}

void DidlWriter::AddSubtitleResources(const DidlItem& item) {
  for (const DidlSubtitle& subtitle : item.subtitles) {
    body_ += "<res protocolInfo=\"" + XmlEscape(HttpProtocolInfo(subtitle.mime, "*")) + "\">" +
             XmlEscape(subtitle.url) + "</res>";
    if (player_.subtitles == SubtitleStyle::ElementsAndFirstRes) break;
  }
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
