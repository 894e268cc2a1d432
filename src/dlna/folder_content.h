// The content tree the media-server side browses and streams: the root "0" holds the user's
// media folders that exist inside the drives (Videos, Music, ... as the system names them),
// then the drives as the "/treeview" drive list gives them; a media folder has the id of its
// path, the one it has when reached through its drive, so a film has one id. A drive or folder
// holds its folders, then its media files (by extension; other files are left out), each group
// in natural order (see natural_order.h) or the order the Browse's SortCriteria asks for;
// a video's subtitles beside it are offered with it and served as UTF-8 (subtitles.h). A
// folder's ordered listing is kept for a moment after it was read (see folder_listing.h), so
// that a player paging through a large folder reads and sorts it once and sees the same order
// on every page; Browses of one folder at once wait for one read of it; after that moment the
// folder is read again, so the tree follows the disk within that time.
// Errors: Browse throws UpnpError NoSuchObject for an id that names nothing it may show (unsafe,
// outside the drives, gone). StreamResource answers 404 for a resource URL that names no file
// it shows, 406 for a seek by time or a play speed without a byte range (bytes only are
// served), and throws "Operation aborted" (500) for a file that is there but cannot be read.
// Each object carries what is known of its file (size, date, the facts of its headers, a poster;
// see entry_facts.h): an answer waits kBrowseFactsWaitMs at most for facts not yet read.
// Search walks a container's subtree (see SearchLimits) folder by folder, each listed as Browse
// lists it, depth first; from "0" the media folders first, then the drives, each folder once
// (those of "0" themselves are no results, what they hold is). The objects the walk found are
// kept for keptMs for the criteria that follow and the pages of each (a control point pages, and
// asks one container for several classes in a row), so a search follows the disk within that
// time; an answer's page is written as a Browse page is, for the asking player. The walks kept
// hold keptBytes at most, the walks running maxObjects each (about 10 MiB).
// Memory: one answer holds at most maxBrowseCount objects, about 1 KiB of DIDL each (fewer
// where the paths are long, about maxAnswerBytes at most), and about twice that while it is
// escaped into the SOAP body; at most largeAnswersAtOnce large answers (more objects than
// largeAnswerObjects, or in a deep folder more bytes than largeAnswerBytes) are built or being
// sent at once (the others wait their turn, then answer within those; one device's address
// holds at most largeAnswersPerDevice of them), so many concurrent Browses take at most about
// largeAnswersAtOnce x 2 x maxAnswerBytes (64 MiB by default; 40 at ordinary paths) besides
// 2 x largeAnswerBytes each for the rest (the server's thread limit bounds those). The listings kept and read are bounded by
// FolderContentOptions::listings (ListingLimits).
// Thread safety: every member may run on several connection threads at once; the listings, the
// facts kept and the subtitles served are locked inside.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dlna/content_source.h"
#include "dlna/facts_cache.h"
#include "dlna/folder_listing.h"
#include "dlna/search_walks.h"
#include "dlna/object_ids.h"
#include "platform/media_folders.h"
#include "server/stream_activity.h"
#include "local/paths.h"

namespace tovi::dlna {

struct FolderContentOptions {
  local::PathStyle style = local::PathStyle::Posix;
  char separator = '/';
  std::function<std::vector<std::string>()> drives;  // ListDrives in the program
  // The user's media folders the root offers before the drives (UserMediaFolders in the
  // program); may be empty.
  std::function<std::vector<fs::MediaFolder>()> mediaFolders;
  std::string rootTitle = "Remote Toviplayer";
  // The most objects one Browse answer holds, whatever the control point asks (TotalMatches
  // still counts them all, and players page on): a whole folder for the players that ask for
  // "all" (RequestedCount 0) and never page, about 1 KiB of DIDL each.
  std::uint32_t maxBrowseCount = 5000;
  // About the most DIDL bytes of one answer: objects of long paths (each carries its id, its
  // parent's and its URL, several KiB apiece in a deep tree) make it hold fewer objects, at least
  // one, and players page on; ordinary paths leave it maxBrowseCount.
  std::size_t maxAnswerBytes = 8 << 20;
  // An answer of more objects than this is a large one (about 0.5 MiB), and so is one whose
  // objects' ids (a deep folder's) come to more bytes than largeAnswerBytes, as many objects as
  // a folder of a 1 KiB id holds; so many are built at once, and a Browse waits this long for
  // its turn before it answers within those.
  std::uint32_t largeAnswerObjects = 500;
  std::size_t largeAnswerBytes = 500 * 4096;
  int largeAnswersAtOnce = 4;
  // Of those, the ones one device's address may hold: answers it leaves unread (a TV switched
  // off while it reads, a player that never reads) leave the other devices a turn.
  int largeAnswersPerDevice = 2;
  int largeAnswerWaitMs = 10000;
  // Told when a resource's bytes begin to go out and when they have stopped (see StreamOptions):
  // the PC is kept awake meanwhile. Either may be empty.
  server::StreamActivity* streams = nullptr;  // told of each resource's bytes going out
  // Where the files' facts come from and how long an answer waits for them.
  FactsCacheOptions facts;
  // How folders are read and their listings kept for the pages that follow.
  ListingLimits listings;
  SearchLimits search;
};

// The options of the platform the program runs on, its drives from ListDrives.
FolderContentOptions PlatformFolderContentOptions();

class AnswerPermits;
class SubtitleServer;

class FolderContent : public ContentSource {
 public:
  explicit FolderContent(FolderContentOptions options = PlatformFolderContentOptions());
  ~FolderContent() override;

  BrowseResult Browse(const BrowseRequest& request, const std::string& baseUrl) override;
  BrowseResult Search(const SearchRequest& request, const std::string& baseUrl) override;
  std::uint32_t SystemUpdateId() override { return updateId_; }
  void StreamResource(http::TNetTCPServerConnection& connection, http::TNetHTTPRequestInfo& request,
                      http::TNetHTTPResponseInfo& response, const Player& player) override;

 private:
  BrowseResult BrowseRoot(const BrowseRequest& request, const PathRules& rules);
  // The folders whose content Browse of "0" shows: the media folders, then the drives, each
  // with its title there.
  std::vector<std::pair<std::string, std::string>> RootFolders(const PathRules& rules);
  // A page of objects, at(i) the i-th of total, sized and written as Browse's.
  BrowseResult SizedPage(const BrowseRequest& request, std::size_t total,
                         const std::function<ListedObject(std::size_t)>& at,
                         const std::function<std::string(const ListedObject&)>& parentOf,
                         std::size_t idBytes, const std::string& baseUrl, const PathRules& rules);
  BrowseResult BrowseMetadata(const BrowseRequest& request, const std::string& path,
                              const MediaType* type, const std::string& baseUrl,
                              const PathRules& rules);

  const FolderContentOptions options_;
  const std::unique_ptr<RecentListings> recent_;  // locked inside
  const std::unique_ptr<FactsCache> facts_;       // locked inside
  const std::unique_ptr<AnswerPermits> largeAnswers_;
  const std::unique_ptr<SubtitleServer> subtitles_;  // locked inside
  const std::unique_ptr<SearchWalks> searches_;  // locked inside
  // Changes with every start, so that control points that keep listings read them anew.
  const std::uint32_t updateId_;
};

}  // namespace tovi::dlna
