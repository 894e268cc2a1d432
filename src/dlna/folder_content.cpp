#include "dlna/folder_content.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <memory>
#include <string_view>

#include "dlna/answer_permits.h"
#include "dlna/art.h"
#include "dlna/device.h"
#include "dlna/didl.h"
#include "dlna/entry_facts.h"
#include "dlna/folder_listing.h"
#include "dlna/media_types.h"
#include "dlna/object_ids.h"
#include "dlna/search_criteria.h"
#include "dlna/subtitles.h"
#include "dlna/upnp_error.h"
#include "http/base_url.h"
#include "http/header_list.h"
#include "local/listing.h"
#include "local/paths.h"
#include "platform/files.h"
#include "platform/user_language.h"
#include "server/file_stream.h"

namespace tovi::dlna {

namespace {

constexpr const char* kRootParentId = "-1";

bool IsFolderPath(std::string_view path, char separator) {
  return !path.empty() && path.back() == separator;
}

// "C:\" reads "C:", "/media/usb/" reads "/media/usb", "/" stays "/"; a folder its name.
std::string TitleOf(const std::string& path, const PathRules& rules) {
  if (IsDrive(path, rules)) {
    std::string label = path;
    if (label.size() > 1) label.pop_back();
    return label;
  }
  return local::LastPathComponent(path, rules.separator);
}

// A video's subtitles found without a listing.
std::vector<FoundSubtitle> SubtitlesOf(const std::string& path, const MediaType& type) {
  if (type.kind != MediaKind::Video) return {};
  return SubtitlesBeside(path, regional::UserLanguage());
}

std::string ResourceUrlOf(const std::string& baseUrl, const std::string& path) {
  return ResourceUrl(baseUrl, ObjectIdOfPath(path), ExtensionOf(path));
}

void AddEntry(DidlWriter& didl, const ListedObject& entry, const std::string& parentId,
              const std::string& baseUrl, const PathRules& rules,
              std::optional<std::uint32_t> childCount, const EntryFacts& known) {
  if (!entry.type) {
    DidlContainer container{ObjectIdOfPath(entry.path), parentId, TitleOf(entry.path, rules),
                            childCount, {}, {}};
    ApplyFacts(container, entry.path, known, baseUrl);
    didl.Add(container);
    return;
  }
  DidlItem item;
  item.id = ObjectIdOfPath(entry.path);
  item.parentId = parentId;
  item.title = local::LastPathComponent(entry.path, rules.separator);
  item.type = entry.type;
  ApplyFacts(item, entry.path, known, entry.artPath, baseUrl);
  item.url = ResourceUrlOf(baseUrl, entry.path);
  for (const FoundSubtitle& subtitle : entry.subtitles) {
    item.subtitles.push_back(DidlSubtitle{ResourceUrlOf(baseUrl, subtitle.path),
                                          subtitle.type->extension, subtitle.type->mime});
  }
  didl.Add(item);
}

// How many objects a page of entries holds: from start, count of them (0: as many as the
// bound lets).
std::uint32_t PageSize(std::size_t entries, const BrowseRequest& request, std::uint32_t bound) {
  const std::uint32_t wanted = request.count == 0 ? bound : std::min(request.count, bound);
  if (request.start >= entries) return 0;
  return static_cast<std::uint32_t>(std::min<std::size_t>(wanted, entries - request.start));
}

// The run of size objects from the request's start (at(i) the i-th of total), written for the
// request's player, ended early (after one object at least) once the DIDL holds maxBytes: a
// video's subtitles and poster each carry a URL as long as its own.
BrowseResult Page(std::size_t total, const std::function<ListedObject(std::size_t)>& at,
                  const BrowseRequest& request, std::uint32_t size,
                  const std::function<std::string(const ListedObject&)>& parentOf,
                  const std::string& baseUrl, const PathRules& rules, FactsCache& facts,
                  std::size_t maxBytes) {
  std::vector<ListedObject> run;
  std::vector<std::string> paths, posters;
  for (std::size_t i = request.start; i < request.start + std::size_t{size}; ++i) {
    run.push_back(at(i));
    paths.push_back(run.back().path);
    posters.push_back(run.back().artPath);
  }
  // As far as the answer's wait lets them be read.
  const std::vector<EntryFacts> known = FactsForAnswer(facts, paths, posters);
  DidlWriter didl(*request.player, request.bookmarks);
  std::uint32_t written = 0;
  while (written < run.size() && (written == 0 || didl.Size() < maxBytes)) {
    AddEntry(didl, run[written], parentOf(run[written]), baseUrl, rules, std::nullopt,
             known[written]);
    ++written;
  }
  BrowseResult result;
  result.total = static_cast<std::uint32_t>(total);
  result.returned = written;
  result.didl = didl.Document();
  return result;
}

PathRules RulesOf(const FolderContentOptions& options) {
  PathRules rules;
  rules.style = options.style;
  rules.separator = options.separator;
  if (options.drives) rules.drives = options.drives();
  return rules;
}

std::uint32_t StartStamp() {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return static_cast<std::uint32_t>(seconds.count());
}

bool AskedFor(const http::TNetHTTPRequestInfo& request, const char* header) {
  std::string value = request.HeaderLines().Values(header);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.erase(0, 1);
  return value == "1";
}

// The transfer mode the player asked for when it is one there is, else the kind's own.
std::string TransferModeFor(const http::TNetHTTPRequestInfo& request, bool streaming) {
  std::string asked = request.HeaderLines().Values("transferMode.dlna.org");
  for (const char* mode : {"Streaming", "Interactive", "Background"}) {
    if (http::SameText(asked, mode)) return mode;
  }
  return streaming ? "Streaming" : "Interactive";
}

// A seek by time into the film or a play speed other than normal, which this server does not
// serve (its res offer DLNA.ORG_OP=01, bytes only): refused with 406, so the player seeks by bytes
// instead of taking the file's start for the moment it asked for. A time seek to the start and
// normal speed are what a plain answer gives, and players that send them with every play keep
// playing; with a byte range beside them the range is served.
bool IsFilmStart(std::string_view timeSeek) {
  if (!timeSeek.starts_with("npt=")) return false;
  const std::string_view start = timeSeek.substr(4, timeSeek.find('-') - 4);
  return !start.empty() && start.find_first_not_of("0:.") == std::string_view::npos;
}

bool AsksForTimeOrSpeed(const http::TNetHTTPRequestInfo& request) {
  if (request.Range().Present()) return false;
  const http::TNetHeaderList& headers = request.HeaderLines();
  const bool timeSeek = headers.IndexOfName("TimeSeekRange.dlna.org") >= 0 &&
                        !IsFilmStart(http::Trim(headers.Values("TimeSeekRange.dlna.org")));
  const bool speed = headers.IndexOfName("PlaySpeed.dlna.org") >= 0 &&
                     http::Trim(headers.Values("PlaySpeed.dlna.org")) != "speed=1";
  return timeSeek || speed;
}

// The "host[:port]" a player reached us at, when it is one (it goes back out in a header).
std::optional<std::string> HostOf(const http::TNetHTTPRequestInfo& request) {
  const std::string& host = request.Host();
  if (host.empty() || host.size() > 64) return std::nullopt;
  for (char c : host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == ':' || c == '-' || c == '[' || c == ']';
    if (!ok) return std::nullopt;
  }
  return host;
}

using server::AnswerNotFound;

// The objects of a walk the criteria match, in the order keys give (none: the walk's). Each
// object's title, class and stamp are found once, for the criteria and for the order alike.
std::vector<std::uint32_t> Matches(const SearchWalk& walk, const SearchCriteria& criteria,
                                   const std::vector<SortKey>& keys, const PathRules& rules,
                                   FactsCache& cache) {
  const bool itemStamps = criteria.NeedsSize() || criteria.NeedsDate();
  const bool sortDates = NeedsDates(keys);
  std::vector<std::uint32_t> matches;
  std::vector<std::string> titles;      // of the matches, for their order
  std::vector<SortFacts> sortFacts;     // of the matches; their titles set once titles is whole
  for (std::size_t i = 0; i < walk.objects.size(); ++i) {
    const ListedObject& object = walk.objects[i];
    SearchFacts facts;
    const std::string id = ObjectIdOfPath(object.path);
    const std::string parentId = ParentIdOf(object.path, rules);
    std::string title = object.type ? local::LastPathComponent(object.path, rules.separator)
                                    : TitleOf(object.path, rules);
    facts.id = id;
    facts.parentId = parentId;
    facts.title = title;
    facts.container = !object.type;
    facts.upnpClass = kFolderClass;
    std::optional<fs::FileStamp> stamp;
    std::string date;
    if (object.type) {
      // The class and the length as the DIDL gives them, as far as the file's facts are known.
      const MediaType* type = object.type;
      if (MayTakeAnotherType(*type) || criteria.NeedsDuration()) {
        if (const std::optional<FileFacts> known = cache.Known(object.path)) {
          type = &FileType(*type, known->media);
          facts.durationMs = known->media.durationMs;
        }
      }
      facts.upnpClass = UpnpClassOf(type->kind);
      if (itemStamps && (stamp = fs::StampOf(object.path))) {
        facts.size = static_cast<std::uint64_t>(stamp->size);
        date = DateText(stamp->modifiedSeconds);
      }
      facts.date = date;
    }
    if (!criteria.Matches(facts)) continue;
    matches.push_back(static_cast<std::uint32_t>(i));
    if (keys.empty()) continue;
    SortFacts sort;
    sort.folder = !object.type;
    sort.upnpClass = object.type ? UpnpClassOf(object.type->kind) : kFolderClass;  // as Browse's
    if (sortDates) {
      if (!stamp) stamp = fs::StampOf(object.path);
      sort.modified = stamp ? stamp->modifiedSeconds : -1;
    }
    sortFacts.push_back(sort);
    titles.push_back(std::move(title));
  }
  if (keys.empty()) return matches;
  for (std::size_t n = 0; n < titles.size(); ++n) sortFacts[n].title = titles[n];
  std::vector<std::uint32_t> ordered;
  ordered.reserve(matches.size());
  for (const std::size_t n : OrderOf(sortFacts, keys)) ordered.push_back(matches[n]);
  return ordered;
}

}  // namespace

FolderContentOptions PlatformFolderContentOptions() {
  FolderContentOptions o;
  o.separator = fs::kSeparator;
  o.style = fs::kSeparator == '\\' ? local::PathStyle::Windows : local::PathStyle::Posix;
  o.drives = local::ListDrives;
  o.mediaFolders = fs::UserMediaFolders;
  return o;
}

FolderContent::FolderContent(FolderContentOptions options)
    : options_(std::move(options)),
      recent_(std::make_unique<RecentListings>(options_.separator, options_.listings)),
      facts_(std::make_unique<FactsCache>(options_.facts)),
      largeAnswers_(std::make_unique<AnswerPermits>(options_.largeAnswersAtOnce,
                                                    options_.largeAnswersPerDevice)),
      subtitles_(std::make_unique<SubtitleServer>()),
      searches_(std::make_unique<SearchWalks>(options_.search)),
      updateId_(StartStamp()) {}

FolderContent::~FolderContent() = default;

BrowseResult FolderContent::Search(const SearchRequest& request, const std::string& baseUrl) {
  const SearchCriteria criteria = SearchCriteria::Parse(request.criteria);
  const PathRules rules = RulesOf(options_);
  std::vector<std::string> starts;
  if (request.objectId == kRootId) {
    for (const auto& [path, title] : RootFolders(rules)) starts.push_back(path);
  } else {
    const std::optional<std::string> path = PathOfObjectId(request.objectId, rules);
    if (!path || !IsFolderPath(*path, rules.separator) || !fs::DirectoryExists(*path)) {
      throw NoSuchContainer();
    }
    starts.push_back(*path);
  }
  const std::string key =
      request.objectId + '\n' + request.criteria + '\n' + SortKeysText(request.sortBy);
  const auto answer = searches_->Of(
      request.objectId, key,
      [starts, separator = rules.separator, limits = options_.search,
       folderObjects = options_.listings.maxObjects](SearchProgress& progress) {
        WalkSubtree(starts, separator, limits, folderObjects, progress);
      },
      [&](const SearchWalk& walk) {
        return Matches(walk, criteria, request.sortBy, rules, *facts_);
      });
  const SearchWalk& walk = *answer->walk;
  return SizedPage(
      request, answer->matches.size(),
      [&](std::size_t i) { return walk.objects[answer->matches[i]]; },
      [&](const ListedObject& object) { return ParentIdOf(object.path, rules); }, walk.longestId,
      baseUrl, rules);
}

BrowseResult FolderContent::Browse(const BrowseRequest& request, const std::string& baseUrl) {
  const PathRules rules = RulesOf(options_);
  if (request.objectId == kRootId) return BrowseRoot(request, rules);

  const std::optional<std::string> path = PathOfObjectId(request.objectId, rules);
  if (!path) throw NoSuchObject();
  const bool folder = IsFolderPath(*path, rules.separator);
  const MediaType* type = folder ? nullptr : MediaTypeOfName(*path);
  if (folder ? !fs::DirectoryExists(*path) : (!type || !fs::FileExists(*path))) {
    throw NoSuchObject();
  }

  if (request.metadata) return BrowseMetadata(request, *path, type, baseUrl, rules);
  if (!folder) return BrowseResult{DidlWriter().Document(), 0, 0};  // an item holds nothing
  const auto listing = recent_->Of(*path, request.sortBy);
  // Each object carries its id, its folder's and its URL, none shorter than the folder's id.
  return SizedPage(
      request, listing->Size(), [&](std::size_t i) { return listing->At(i); },
      [&](const ListedObject&) { return request.objectId; }, request.objectId.size(), baseUrl,
      rules);
}

// A page's objects each carry their id, their parent's and their URL, each about idBytes, and
// a name: objects of long paths make a page of fewer objects, not of more bytes.
BrowseResult FolderContent::SizedPage(
    const BrowseRequest& request, std::size_t total,
    const std::function<ListedObject(std::size_t)>& at,
    const std::function<std::string(const ListedObject&)>& parentOf, std::size_t idBytes,
    const std::string& baseUrl, const PathRules& rules) {
  const std::size_t objectBytes = 3 * idBytes + 1024;
  const auto objectsIn = [&](std::size_t bytes) {
    return static_cast<std::uint32_t>(
        std::clamp<std::size_t>(bytes / objectBytes, 1, options_.maxBrowseCount));
  };
  std::uint32_t size = std::min(PageSize(total, request, options_.maxBrowseCount),
                                objectsIn(options_.maxAnswerBytes));
  std::size_t maxBytes = options_.maxAnswerBytes;
  // Held while the answer is built and then sent: a reader that takes nothing holds a large
  // answer's memory until its send stalls out.
  std::shared_ptr<AnswerPermits::Permit> permit;
  if (size > options_.largeAnswerObjects || size * objectBytes > options_.largeAnswerBytes) {
    const std::chrono::milliseconds wait(options_.largeAnswerWaitMs);
    permit = std::make_shared<AnswerPermits::Permit>(largeAnswers_->Acquire(wait, request.peer));
    if (!*permit) {
      size = std::min({size, options_.largeAnswerObjects, objectsIn(options_.largeAnswerBytes)});
      maxBytes = options_.largeAnswerBytes;
    }
  }
  BrowseResult result =
      Page(total, at, request, size, parentOf, baseUrl, rules, *facts_, maxBytes);
  if (permit && *permit) result.keepWhileSent = std::move(permit);
  return result;
}

// The object itself: a folder with its count of objects, an item with its subtitles and poster
// as its folder's listing has them (read once for the items of a folder asked one by one).
BrowseResult FolderContent::BrowseMetadata(const BrowseRequest& request, const std::string& path,
                                           const MediaType* type, const std::string& baseUrl,
                                           const PathRules& rules) {
  DidlWriter didl(*request.player, request.bookmarks);
  const std::string parentId = ParentIdOf(path, rules);
  if (!type) {
    const EntryFacts known = FactsForAnswer(*facts_, {path}).front();
    const auto count = static_cast<std::uint32_t>(recent_->Of(path, {})->Size());
    AddEntry(didl, ListedObject{path, nullptr, {}}, parentId, baseUrl, rules, count, known);
    return BrowseResult{didl.Document(), 1, 1};
  }
  const std::string folder = path.substr(0, path.size() - FileNameOf(path).size());
  std::optional<ListedObject> entry = recent_->Of(folder, {})->Listing().Find(path);
  if (!entry) {  // beyond the objects a folder lists
    entry = ListedObject{path, type, SubtitlesOf(path, *type),
                         ArtOfItem(path, type->kind, rules.separator)};
  }
  const EntryFacts known = FactsForAnswer(*facts_, {path}, {entry->artPath}).front();
  AddEntry(didl, *entry, parentId, baseUrl, rules, std::nullopt, known);
  return BrowseResult{didl.Document(), 1, 1};
}

// The media folders inside the drives, then the drives; a media folder keeps its path's id.
// The root's objects go without facts: a query of a lost network drive can take many seconds.
std::vector<std::pair<std::string, std::string>> FolderContent::RootFolders(
    const PathRules& rules) {
  std::vector<std::pair<std::string, std::string>> folders;
  if (options_.mediaFolders) {
    for (const fs::MediaFolder& media : options_.mediaFolders()) {
      const std::optional<std::string> path = PathOfObjectId(ObjectIdOfPath(media.path), rules);
      if (!path || *path != media.path || !IsFolderPath(*path, rules.separator)) continue;
      folders.emplace_back(media.path, media.title);
    }
  }
  for (const std::string& drive : rules.drives) folders.emplace_back(drive, TitleOf(drive, rules));
  return folders;
}

BrowseResult FolderContent::BrowseRoot(const BrowseRequest& request, const PathRules& rules) {
  std::vector<ListedObject> entries;
  std::vector<std::string> titles;
  for (auto& [path, title] : RootFolders(rules)) {
    entries.push_back(ListedObject{path, nullptr, {}});
    titles.push_back(std::move(title));
  }
  DidlWriter didl;
  if (request.metadata) {
    didl.Add(DidlContainer{kRootId, kRootParentId, options_.rootTitle,
                           static_cast<std::uint32_t>(entries.size()), {}});
    return BrowseResult{didl.Document(), 1, 1};
  }
  const std::uint32_t size = PageSize(entries.size(), request, options_.maxBrowseCount);
  for (std::size_t i = request.start; i < request.start + std::size_t{size}; ++i) {
    didl.Add(DidlContainer{ObjectIdOfPath(entries[i].path), kRootId, titles[i], std::nullopt, {}});
  }
  return BrowseResult{didl.Document(), size, static_cast<std::uint32_t>(entries.size())};
}

void FolderContent::StreamResource(http::TNetTCPServerConnection& connection, http::TNetHTTPRequestInfo& request,
                                   http::TNetHTTPResponseInfo& response, const Player& player) {
  const std::string_view query = request.QueryText();
  if (const auto cover = CoverPathOf(query, RulesOf(options_))) {
    if (cover->empty() || !fs::FileExists(*cover)) return AnswerNotFound(response);
    const media::MediaFacts facts = FactsNow(*facts_, *cover);
    server::StreamOptions stream;
    stream.activity = options_.streams;
    // A picture's headers, as a poster beside the files has them.
    if (AskedFor(request, "getcontentFeatures.dlna.org")) {
      const bool png = facts.coverMime == "image/png";
      const MediaType* picture = MediaTypeOfName(png ? "a.png" : "a.jpg");
      stream.extraHeaders.emplace_back("contentFeatures.dlna.org",
                                       DlnaFeaturesFor(player, *picture, CoverProfile(facts)));
    }
    stream.extraHeaders.emplace_back("transferMode.dlna.org", TransferModeFor(request, false));
    return StreamCover(connection, *cover, facts, request, response, stream);
  }
  // "dlna/res/<id>.<extension>": ids hold no ".", so the last one starts the extension.
  const std::string_view prefix = kResourceQueryPrefix;
  if (query.substr(0, prefix.size()) != prefix) return AnswerNotFound(response);
  const std::string_view name = query.substr(prefix.size());
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return AnswerNotFound(response);
  const PathRules rules = RulesOf(options_);
  const std::optional<std::string> path = PathOfObjectId(name.substr(0, dot), rules);
  if (!path || IsFolderPath(*path, rules.separator)) return AnswerNotFound(response);
  const std::string extension = ExtensionOf(*path);
  if (extension.empty() || !http::SameText(extension, std::string(name.substr(dot + 1)))) {
    return AnswerNotFound(response);
  }
  const MediaType* type = MediaTypeOfName(*path);
  const SubtitleType* subtitle = SubtitleTypeOfName(*path);
  if ((!type && !subtitle) || !fs::FileExists(*path)) return AnswerNotFound(response);
  if (AsksForTimeOrSpeed(request)) {
    response.SetResponseCode(406);
    return;
  }
  // The file's facts, looked up once and only where an answer needs them.
  std::optional<media::MediaFacts> known;
  const auto facts = [&]() -> const media::MediaFacts& {
    if (!known) known = FactsNow(*facts_, *path);
    return *known;
  };
  // Served as the type its item was announced as: an MP4's facts are read for it (it may hold
  // sound alone), another file's taken only when known already (a misnamed film browsed
  // before), since a recording still being written changes with every request and would be
  // read for each (up to ByteSource's budget) before its bytes.
  if (type && MayHoldSoundOnly(*type)) {
    type = &FileType(*type, facts());
  } else if (type && MayTakeAnotherType(*type)) {
    if (const std::optional<FileFacts> held = facts_->Known(*path)) {
      type = &FileType(*type, held->media);
    }
  }

  server::StreamOptions stream;
  stream.activity = options_.streams;
  if (subtitle) {
    stream.contentType = MimeFor(player, subtitle->extension, subtitle->mime);
    stream.extraHeaders.emplace_back("transferMode.dlna.org", TransferModeFor(request, false));
  } else {
    stream.contentType = MimeFor(player, *type);
    if (AskedFor(request, "getcontentFeatures.dlna.org")) {
      const media::MediaFacts none;  // only a picture's profile depends on them
      const std::string profile =
          FileProfile(*type, type->kind == MediaKind::Image ? facts() : none);
      stream.extraHeaders.emplace_back("contentFeatures.dlna.org",
                                       DlnaFeaturesFor(player, *type, profile));
    }
    if (AskedFor(request, "getMediaInfo.sec")) {
      if (const auto info = SamsungMediaInfo(facts())) {
        stream.extraHeaders.emplace_back("MediaInfo.sec", *info);
      }
    }
    stream.extraHeaders.emplace_back("transferMode.dlna.org",
                                     TransferModeFor(request, type->kind != MediaKind::Image));
    if (type->kind == MediaKind::Video && AskedFor(request, "getCaptionInfo.sec")) {
      const std::vector<FoundSubtitle> subtitles = SubtitlesOf(*path, *type);
      const std::optional<std::string> host = HostOf(request);
      if (!subtitles.empty() && host) {
        stream.extraHeaders.emplace_back("CaptionInfo.sec",
                                         ResourceUrlOf(http::BaseUrl(*host), subtitles[0].path));
      }
    }
  }
  if (subtitle) {
    return subtitles_->Stream(connection, *path, request, response, stream, player.subtitleBom);
  }
  server::StreamLocalFile(connection, *path, request, response, stream);
}

}  // namespace tovi::dlna
