#include "dlna/folder_listing.h"

#include <optional>

#include "dlna/art.h"
#include "local/listing.h"
#include "platform/files.h"
#include "platform/user_language.h"

namespace tovi::dlna {

namespace {

bool IsFolderPath(std::string_view path, char separator) {
  return !path.empty() && path.back() == separator;
}

// "film.mkv" for "/v/film.mkv", "sub" for "/v/sub/".
std::string_view NameIn(std::string_view path, char separator) {
  if (IsFolderPath(path, separator)) path.remove_suffix(1);
  const std::size_t cut = path.rfind(separator);
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace

FolderListing::FolderListing(const std::string& folder, char separator, std::size_t maxObjects)
    : folder_(folder), separator_(separator) {
  std::vector<Object> found;
  {
    // The paths, subtitles and posters of the read live only while it lasts.
    const std::vector<std::string> listing = local::ListFolder(folder, separator, maxObjects);
    SubtitleIndex subtitles(regional::UserLanguage());  // views into listing
    const ListingArt art(folder, listing);
    folderArt_ = art.For({}, MediaKind::Audio);  // music without a poster of its own: the folder's
    found.reserve(listing.size());  // growing by doubling would hold twice as much at its peak
    const auto add = [&](std::string_view name, const MediaType* type, Extra extra) {
      Object object{static_cast<std::uint32_t>(names_.size()),
                    static_cast<std::uint32_t>(name.size()), type, kNoExtra};
      names_ += name;
      if (!extra.subtitles.empty() || !extra.ownArt.empty()) {
        object.extra = static_cast<std::uint32_t>(extras_.size());
        extras_.push_back(std::move(extra));
      }
      found.push_back(object);
    };
    for (const std::string& path : listing) {
      if (IsFolderPath(path, separator)) add(NameIn(path, separator), nullptr, {});
      else subtitles.Add(path);
    }
    for (const std::string& path : listing) {
      if (IsFolderPath(path, separator)) continue;
      const MediaType* type = MediaTypeOfName(path);
      if (!type) continue;
      Extra extra;
      if (type->kind == MediaKind::Video) extra.subtitles = subtitles.For(path);
      extra.ownArt = art.For(path, type->kind);
      if (extra.ownArt == folderArt_) extra.ownArt.clear();
      add(NameIn(path, separator), type, std::move(extra));
    }
  }
  objects_ = std::move(found);
  PutInDefaultOrder();
  names_.shrink_to_fit();
  extras_.shrink_to_fit();
}

// Most Browses ask for the default order: the listing is kept in it, with no index.
void FolderListing::PutInDefaultOrder() {
  std::vector<Object> ordered;
  ordered.reserve(objects_.size());
  for (const std::uint32_t i : OrderBy({})) ordered.push_back(objects_[i]);
  objects_ = std::move(ordered);
}

std::string_view FolderListing::NameOf(const Object& object) const {
  return std::string_view(names_).substr(object.nameAt, object.nameSize);
}

std::string FolderListing::PathOf(const Object& object) const {
  std::string path = folder_;
  path += NameOf(object);
  if (!object.type) path += separator_;
  return path;
}

ListedObject FolderListing::At(std::size_t i) const {
  const Object& object = objects_[i];
  ListedObject listed{PathOf(object), object.type, {}};
  if (!object.type) return listed;
  const Extra* extra = object.extra == kNoExtra ? nullptr : &extras_[object.extra];
  if (extra) listed.subtitles = extra->subtitles;
  if (extra && !extra->ownArt.empty()) listed.artPath = extra->ownArt;
  else if (object.type->kind != MediaKind::Image) listed.artPath = folderArt_;
  return listed;
}

std::optional<ListedObject> FolderListing::Find(std::string_view path) const {
  if (path.substr(0, folder_.size()) != folder_) return std::nullopt;
  const std::string_view name = path.substr(folder_.size());
  for (std::size_t i = 0; i < objects_.size(); ++i) {
    if (objects_[i].type && NameOf(objects_[i]) == name) return At(i);
  }
  return std::nullopt;
}

std::size_t FolderListing::Bytes() const {
  std::size_t bytes = sizeof *this + folder_.capacity() + folderArt_.capacity() +
                      names_.capacity() + objects_.capacity() * sizeof(Object) +
                      extras_.capacity() * sizeof(Extra);
  for (const Extra& extra : extras_) {
    bytes += extra.ownArt.capacity() + extra.subtitles.capacity() * sizeof(FoundSubtitle);
    for (const FoundSubtitle& subtitle : extra.subtitles) bytes += subtitle.path.capacity();
  }
  return bytes;
}

std::vector<std::uint32_t> FolderListing::OrderBy(const std::vector<SortKey>& keys) const {
  const bool dates = NeedsDates(keys);
  std::vector<SortFacts> facts(objects_.size());
  for (std::size_t i = 0; i < objects_.size(); ++i) {
    const Object& object = objects_[i];
    facts[i].folder = object.type == nullptr;
    facts[i].upnpClass = facts[i].folder ? kFolderClass : UpnpClassOf(object.type->kind);
    facts[i].title = NameOf(object);
    if (!dates) continue;
    const std::optional<fs::FileStamp> stamp = fs::StampOf(PathOf(object));
    facts[i].modified = stamp ? stamp->modifiedSeconds : -1;
  }
  const std::vector<std::size_t> order = OrderOf(facts, keys);
  return std::vector<std::uint32_t>(order.begin(), order.end());
}

RecentListings::RecentListings(char separator, ListingLimits limits, Reader reader)
    : separator_(separator), limits_(limits), reader_(std::move(reader)), reads_(limits.readsAtOnce) {}

std::shared_ptr<const OrderedListing> RecentListings::Of(const std::string& folder,
                                                         const std::vector<SortKey>& keys) {
  const std::string keysText = SortKeysText(keys);
  std::unique_lock<std::mutex> lock(lock_);
  DropStale(Clock::now());
  for (const Kept& k : kept_) {
    if (k.folder == folder && k.keys == keysText) return k.ordered;
  }
  return ordering_.Once(
      lock, {folder, keysText}, std::chrono::milliseconds(limits_.waitMs),
      [&] {
        const Read read = ReadOf(folder);
        // The listing's own order needs no index.
        std::vector<std::uint32_t> order = keys.empty() ? std::vector<std::uint32_t>{}
                                                        : read.listing->OrderBy(keys);
        return std::make_shared<const OrderedListing>(read.listing, std::move(order));
      },
      [&](const Ordered& ordered) { Keep(Kept{folder, keysText, Clock::now(), ordered}); });
}

// The folder's listing read within freshMs, or read now (once for all who ask meanwhile).
RecentListings::Read RecentListings::ReadOf(const std::string& folder) {
  std::unique_lock<std::mutex> lock(lock_);
  const auto done = readsDone_.find(folder);
  const auto fresh = std::chrono::milliseconds(limits_.freshMs);
  if (done != readsDone_.end() && Clock::now() - done->second.first <= fresh) {
    if (Listing listing = done->second.second.lock()) return Read{listing, done->second.first};
  }
  const auto wait = std::chrono::milliseconds(limits_.waitMs);
  return reading_.Once(
      lock, folder, wait,
      [&] {
        const AnswerPermits::Permit turn = reads_.Acquire(wait);
        if (!turn) throw ActionFailed();
        const Clock::time_point at = Clock::now();
        return Read{reader_ ? reader_(folder)
                            : std::make_shared<const FolderListing>(folder, separator_,
                                                                    limits_.maxObjects),
                    at};
      },
      [&](const Read& read) { readsDone_[folder] = {read.at, read.listing}; });
}

void RecentListings::DropStale(Clock::time_point now) {
  const auto fresh = std::chrono::milliseconds(limits_.freshMs);
  std::erase_if(kept_, [&](const Kept& k) { return now - k.made > fresh; });
  std::erase_if(readsDone_, [&](const auto& done) {
    return now - done.second.first > fresh || done.second.second.expired();
  });
}

// The oldest give way to the newest, until the count and the bytes are within the bounds; a
// listing larger than all the bytes allowed is not kept at all.
void RecentListings::Keep(Kept kept) {
  kept_.push_back(std::move(kept));
  std::size_t bytes = 0;
  for (const Kept& k : kept_) bytes += k.ordered->Bytes();
  while (!kept_.empty() && (kept_.size() > limits_.keptListings || bytes > limits_.keptBytes)) {
    bytes -= kept_.front().ordered->Bytes();
    kept_.erase(kept_.begin());
  }
}

}  // namespace tovi::dlna
