// The content tree the media-server side browses and streams: the root "0" holds the drives as
// the "/treeview" drive list gives them; a drive or folder holds its folders, then its media
// files (by extension; other files are left out), each group in the folder listing's order;
// a video's same-named ".srt" beside it is offered with it. A folder's listing is kept for
// kListingFreshMs after it was read, so that a player paging through a large folder reads it
// once; after that the folder is read again, so the tree follows the disk within that time.
// Errors: Browse throws UpnpError NoSuchObject for an id that names nothing it may show (unsafe,
// outside the drives, gone). StreamResource answers 404 for a resource URL that names no file
// it shows, and throws "Operation aborted" (500) for a file that is there but cannot be read.
// Each object carries what is known of its file (size, date, the facts of its headers, a poster;
// see entry_facts.h): an answer waits kBrowseFactsWaitMs at most for facts not yet read.
// Thread safety: every member may run on several connection threads at once; the listings and
// the facts kept are locked inside.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dlna/content_source.h"
#include "dlna/facts_cache.h"
#include "server/texts.h"

namespace tovi::dlna {

struct FolderContentOptions {
  server::PathStyle style = server::PathStyle::Posix;
  char separator = '/';
  std::function<std::vector<std::string>()> drives;  // ListDrives in the program
  std::string rootTitle = "Remote Toviplayer";
  // The most objects one Browse answer holds, whatever the control point asks (TotalMatches
  // still counts them all, and players page on): about 1 KiB of SOAP body each.
  std::uint32_t maxBrowseCount = 500;
  // Told when a resource's bytes begin to go out and when they have stopped (see StreamOptions):
  // the PC is kept awake meanwhile. Either may be empty.
  std::function<void()> streamStarted, streamEnded;
  // Where the files' facts come from and how long an answer waits for them.
  FactsCacheOptions facts;
};

// How long a folder's listing serves further pages, and how many folders are kept so (the
// listings a few players page through at once; each as large as its folder).
inline constexpr int kListingFreshMs = 3000;
inline constexpr std::size_t kListingsKept = 8;

// The options of the platform the program runs on, its drives from ListDrives.
FolderContentOptions PlatformFolderContentOptions();

class FolderContent : public ContentSource {
 public:
  explicit FolderContent(FolderContentOptions options = PlatformFolderContentOptions());
  ~FolderContent() override;

  BrowseResult Browse(const BrowseRequest& request, const std::string& baseUrl) override;
  std::uint32_t SystemUpdateId() override { return updateId_; }
  void StreamResource(http::TNetPeerThread& thread, http::TNetHTTPRequestInfo& request,
                      http::TNetHTTPResponseInfo& response) override;

 private:
  class RecentListings;

  const FolderContentOptions options_;
  const std::unique_ptr<RecentListings> recent_;  // locked inside
  const std::unique_ptr<FactsCache> facts_;       // locked inside
  // Changes with every start, so that control points that keep listings read them anew.
  const std::uint32_t updateId_;
};

}  // namespace tovi::dlna
