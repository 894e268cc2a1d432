// What the ContentDirectory service browses and streams: the tree of the PC's drives, folders
// and media files. The control side (SOAP) asks it; FolderContent is the real one.
// Thread safety: every member may be called from several connection threads at once.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dlna/bookmarks.h"
#include "dlna/players.h"
#include "dlna/sort_order.h"
#include "dlna/upnp_error.h"
#include "http/server/http_server.h"

namespace tovi::dlna {

struct BrowseRequest {
  std::string objectId;
  bool metadata = false;        // BrowseMetadata; else BrowseDirectChildren
  std::uint32_t start = 0;      // StartingIndex
  std::uint32_t count = 0;      // RequestedCount; 0 = all (up to the source's own bound)
  // Who asks: the DIDL is written for that player's row, with its resume positions. Both
  // outlive the call.
  const Player* player = &UnknownPlayer();
  const Bookmarks* bookmarks = nullptr;
  std::string peer;             // the asking device's address; empty: no one in particular
  std::vector<SortKey> sortBy;  // SortCriteria; empty: the tree's own order
};

// A Search: objectId is the ContainerID whose subtree is searched; metadata is unused.
struct SearchRequest : BrowseRequest {
  std::string criteria;  // SearchCriteria as sent
};

struct BrowseResult {
  std::string didl;             // the DIDL-Lite document, not yet escaped for the SOAP body
  std::uint32_t returned = 0;   // NumberReturned
  std::uint32_t total = 0;      // TotalMatches
  // What the answer holds until it has been sent or its reader is gone (a large answer's turn).
  std::shared_ptr<void> keepWhileSent = nullptr;
};

class ContentSource {
 public:
  virtual ~ContentSource() = default;
  // baseUrl: "http://address:port" as the control point reached us, for the res URLs.
  // Throws UpnpError: NoSuchObject for an id that names nothing (or nothing it may show).
  virtual BrowseResult Browse(const BrowseRequest& request, const std::string& baseUrl) = 0;
  // The objects under the container that the criteria match, paged and ordered as Browse's.
  // Throws UpnpError: 708 for criteria that do not parse, 710 for an id that names no container
  // it may show; a source without search answers 401.
  virtual BrowseResult Search(const SearchRequest& request, const std::string& baseUrl);
  virtual std::uint32_t SystemUpdateId() = 0;
  // A request whose query starts with kResourceQueryPrefix or kArtQueryPrefix: streams the
  // file or the picture inside it (GET, HEAD, ranges) or answers 404 for an id that names none.
  // player: the row of who asks (its media types and profiles name the file, its subtitles are
  // served as it reads them).
  virtual void StreamResource(http::TNetTCPServerConnection& connection, http::TNetHTTPRequestInfo& request,
                              http::TNetHTTPResponseInfo& response, const Player& player) = 0;
};

inline BrowseResult ContentSource::Search(const SearchRequest&, const std::string&) {
  throw InvalidAction();
}

}  // namespace tovi::dlna
