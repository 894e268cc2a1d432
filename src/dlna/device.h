// What the PC is on the home network's media-server side: the UPnP device and service types it
// announces and describes, and the URLs where each part answers. Constants only; any thread.
//
// Every URL of this side has the path "/" and a query that starts with "dlna/". The app's file
// requests name a file by its path; "/" is a folder on Linux and names no file at all on
// Windows (file paths start with a drive there), so no file request can ever take one of these
// URLs, and the app never asks for "/" with a query.
#pragma once
#include <array>
#include <string>
#include <string_view>

namespace tovi::dlna {

inline constexpr const char* kDeviceType = "urn:schemas-upnp-org:device:MediaServer:1";
inline constexpr const char* kContentDirectoryType = "urn:schemas-upnp-org:service:ContentDirectory:1";
inline constexpr const char* kConnectionManagerType = "urn:schemas-upnp-org:service:ConnectionManager:1";
// Some TVs and game consoles list only servers that offer this registrar.
inline constexpr const char* kRegistrarType = "urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1";

// The path of every URL here, and the start of its query.
inline constexpr const char* kUrlPath = "/";
inline constexpr std::string_view kQueryPrefix = "dlna/";

// One service: its type, its id in the description, and the queries of its three URLs.
struct ServiceUrls {
  const char* type;
  const char* id;
  const char* description;  // the SCPD
  const char* control;      // SOAP actions (POST)
  const char* events;       // SUBSCRIBE / UNSUBSCRIBE
};
inline constexpr std::array<ServiceUrls, 3> kServices{{
    {kContentDirectoryType, "urn:upnp-org:serviceId:ContentDirectory", "dlna/cds.xml",
     "dlna/cds/control", "dlna/cds/events"},
    {kConnectionManagerType, "urn:upnp-org:serviceId:ConnectionManager", "dlna/cms.xml",
     "dlna/cms/control", "dlna/cms/events"},
    {kRegistrarType, "urn:microsoft.com:serviceId:X_MS_MediaReceiverRegistrar", "dlna/mrr.xml",
     "dlna/mrr/control", "dlna/mrr/events"},
}};

// The device description, the SSDP announcements' LOCATION.
inline constexpr const char* kDescriptionQuery = "dlna/device.xml";
// A file of the tree: this prefix, the object's id, and the file's extension (some players take
// the media type from it).
inline constexpr const char* kResourceQueryPrefix = "dlna/res/";
// A picture held inside a file of the tree (an MP3's cover): this prefix, the file's id, ".jpg".
inline constexpr const char* kArtQueryPrefix = "dlna/art/";

// "/?" + query: the URL's path and query as they go after "http://address:port".
inline std::string UrlTarget(std::string_view query) {
  return std::string(kUrlPath) + "?" + std::string(query);
}

// Whether a request (its decoded path and its raw query) is one for this side.
inline bool IsDlnaRequest(std::string_view path, std::string_view query) {
  return path == kUrlPath && query.substr(0, kQueryPrefix.size()) == kQueryPrefix;
}

}  // namespace tovi::dlna
