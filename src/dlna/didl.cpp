#include "dlna/didl.h"

#include <cstdio>

#include "dlna/device.h"
#include "dlna/xml.h"

namespace tovi::dlna {

std::string DurationText(std::uint64_t ms) {
  const std::uint64_t seconds = ms / 1000;
  char text[40];
  std::snprintf(text, sizeof text, "%llu:%02u:%02u.%03u",
                static_cast<unsigned long long>(seconds / 3600),
                static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60),
                static_cast<unsigned>(ms % 1000));
  return text;
}

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

// The res attributes of what the file's headers said.
std::string FactsAttributes(const media::MediaFacts& facts) {
  std::string out;
  if (facts.durationMs) out += " duration=\"" + DurationText(*facts.durationMs) + "\"";
  if (facts.width && facts.height) {
    out += " resolution=\"" + std::to_string(*facts.width) + "x" + std::to_string(*facts.height) + "\"";
  }
  if (facts.bitrate) out += " bitrate=\"" + std::to_string(*facts.bitrate) + "\"";
  if (facts.channels) out += " nrAudioChannels=\"" + std::to_string(*facts.channels) + "\"";
  if (facts.sampleRate) out += " sampleFrequency=\"" + std::to_string(*facts.sampleRate) + "\"";
  return out;
}

// profiles false: the player's row forbids DLNA profiles, this one's too.
std::string ArtElement(const std::string& url, const std::string& profile, bool profiles) {
  if (url.empty()) return std::string();
  std::string out = "<upnp:albumArtURI";
  if (profiles && !profile.empty()) out += " dlna:profileID=\"" + XmlEscape(profile) + "\"";
  return out + ">" + XmlEscape(url) + "</upnp:albumArtURI>";
}

}  // namespace

void DidlWriter::Add(const DidlContainer& container) {
  body_ += "<container id=\"" + XmlEscape(container.id) + "\" parentID=\"" +
           XmlEscape(container.parentId) + "\" restricted=\"1\" searchable=\"0\"";
  if (container.childCount) body_ += " childCount=\"" + std::to_string(*container.childCount) + "\"";
  body_ += ">";
  body_ += Element("dc:title", container.title);
  body_ += Element("upnp:class", kFolderClass);
  body_ += ArtElement(container.albumArtUrl, container.albumArtProfile, player_.profiles);
  body_ += "</container>";
}

void DidlWriter::Add(const DidlItem& item) {
  body_ += "<item id=\"" + XmlEscape(item.id) + "\" parentID=\"" + XmlEscape(item.parentId) +
           "\" restricted=\"1\">";
  body_ += Element("dc:title", item.title);
  body_ += Element("upnp:class", UpnpClassOf(item.type->kind));
  if (item.modified) body_ += Element("dc:date", DateText(*item.modified));
  body_ += ArtElement(item.albumArtUrl, item.albumArtProfile, player_.profiles);
  if (player_.bookmarks && bookmarks_) {
    if (const auto seconds = bookmarks_->Of(item.id))
      body_ += "<sec:dcmInfo>BM=" + std::to_string(*seconds) + "</sec:dcmInfo>";
  }
  if (player_.subtitles != SubtitleStyle::ResPerSubtitle) AddSubtitleElements(item);
  body_ += "<res";
  if (item.size) body_ += " size=\"" + std::to_string(*item.size) + "\"";
  body_ += FactsAttributes(item.facts);
  const std::string profile = FileProfile(*item.type, item.facts);
  body_ += " protocolInfo=\"" + XmlEscape(ProtocolInfoFor(player_, *item.type, profile)) + "\">" +
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
    const char* mime = MimeFor(player_, subtitle.kind, subtitle.mime.c_str());
    body_ += "<res protocolInfo=\"" + XmlEscape(HttpProtocolInfo(mime, "*")) + "\">" +
             XmlEscape(subtitle.url) + "</res>";
    if (player_.subtitles == SubtitleStyle::ElementsAndFirstRes) break;
  }
}

// The civil date from the count of days (proleptic Gregorian), so no locale or time zone enters.
std::string DateText(std::int64_t seconds) {
  const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const std::int64_t inDay = seconds - days * 86400;
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[128];  // room for any 64-bit year
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(inDay / 3600),
                static_cast<long long>(inDay / 60 % 60), static_cast<long long>(inDay % 60));
  return text;
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
