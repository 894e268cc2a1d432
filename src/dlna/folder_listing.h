// A folder's objects as Browse pages them, and the listings kept for the pages that follow.
// A folder is read once into a FolderListing: its folders, then its media files (by extension;
// other files are left out), each video with the subtitles beside it, each item with its
// poster, in the default order (folders first, natural order: see sort_order.h). Per object it
// keeps only what a page writes: its name among the folder's names, its type, and for the few
// that have them its subtitles and its own poster (24 bytes and the name).
// Another SortCriteria costs an index of 4 bytes per object over the same listing.
// RecentListings keeps what it read for ListingLimits::freshMs, so that a player paging through
// a large folder sees the same order on every page; Browses of one folder at the same moment
// wait for one read of it (and one ordering per criteria) instead of each reading it. Bounds
// (ListingLimits): the objects of one folder, the folders read at once, the listings kept and
// the bytes they hold together, and every wait.
// Errors: RecentListings::Of throws ActionFailed (UpnpError 501) when a read it waits for, or
// its turn to read, does not come within waitMs. A folder that cannot be read lists nothing.
// Thread safety: a FolderListing and an OrderedListing are read-only once made; RecentListings
// is locked inside and may be called from every connection thread at once.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dlna/answer_permits.h"
#include "dlna/media_types.h"
#include "dlna/sort_order.h"
#include "dlna/subtitles.h"
#include "dlna/upnp_error.h"

namespace tovi::dlna {

struct ListingLimits {
  // How long a folder's listing serves further pages; a listing read within it serves another
  // criteria's order too, so what a page shows is at most twice this old.
  int freshMs = 3000;
  std::size_t keptListings = 8;  // the folders a few players page through at once
  // What the listings kept hold together (a folder of 200,000 films takes about 10 MiB); a
  // listing larger than this serves the Browses that asked for it and is read again for the next.
  std::size_t keptBytes = std::size_t{64} << 20;
  // A read takes about 150 bytes an object while it lasts (names, paths and sort keys): so many
  // folders are read at once, the others wait their turn.
  int readsAtOnce = 2;
  // How long a Browse waits for its turn to read, or for the read or ordering another runs.
  int waitMs = 30000;
  // The most objects a folder lists (in the order the file system gives them, then ordered);
  // bounds a read's memory and time whatever a folder holds.
  std::size_t maxObjects = 1000000;
};

// One object of a listing, as a page writes it.
struct ListedObject {
  std::string path;
  const MediaType* type = nullptr;       // null: a folder
  std::vector<FoundSubtitle> subtitles;  // a video's, the preferred first
  std::string artPath = {};              // its poster, its own or its folder's
};

class FolderListing {
 public:
  // Reads folder (ending with separator), at most maxObjects of its entries.
  FolderListing(const std::string& folder, char separator, std::size_t maxObjects);

  std::size_t Size() const { return objects_.size(); }
  ListedObject At(std::size_t i) const;  // i < Size()
  std::size_t Bytes() const;             // what it holds, about
  // The item at path when the listing holds it (one look at each of its names).
  std::optional<ListedObject> Find(std::string_view path) const;
  // The indexes of its objects in the order keys give (empty keys: the listing's own order).
  std::vector<std::uint32_t> OrderBy(const std::vector<SortKey>& keys) const;

 private:
  struct Object {
    std::uint32_t nameAt = 0, nameSize = 0;  // in names_
    const MediaType* type = nullptr;         // null: a folder
    std::uint32_t extra = kNoExtra;          // in extras_
  };
  static_assert(sizeof(Object) <= 24, "what an object costs, as said above");
  struct Extra {
    std::vector<FoundSubtitle> subtitles;
    std::string ownArt;  // "": the folder's (or none, for a picture)
  };
  static constexpr std::uint32_t kNoExtra = 0xFFFFFFFF;

  void PutInDefaultOrder();
  std::string_view NameOf(const Object& object) const;
  std::string PathOf(const Object& object) const;

  std::string folder_;
  char separator_;
  std::string folderArt_;
  std::string names_;
  std::vector<Object> objects_;
  std::vector<Extra> extras_;
};

// A listing in the order of one SortCriteria: what a Browse pages through.
class OrderedListing {
 public:
  OrderedListing(std::shared_ptr<const FolderListing> listing, std::vector<std::uint32_t> order)
      : listing_(std::move(listing)), order_(std::move(order)) {}
  std::size_t Size() const { return listing_->Size(); }
  ListedObject At(std::size_t i) const { return listing_->At(order_.empty() ? i : order_[i]); }
  const FolderListing& Listing() const { return *listing_; }
  // What it holds, its listing counted whole even when another order shares it.
  std::size_t Bytes() const { return listing_->Bytes() + order_.capacity() * sizeof(std::uint32_t); }

 private:
  std::shared_ptr<const FolderListing> listing_;
  std::vector<std::uint32_t> order_;  // empty: the listing's own
};

namespace detail {

// Work on one key done by the first caller that asks for it; the others asking meanwhile wait
// for its result (or its error) instead of doing it again. Runs under its owner's lock.
template <class Key, class Value>
class Joined {
 public:
  // Value of key: waits at most wait for the caller already making it, else makes it (make,
  // run unlocked), then hands it to keep (run locked) before the waiting callers get it.
  // Throws ActionFailed when the wait runs out, or what make threw.
  template <class Make, class Keep>
  Value Once(std::unique_lock<std::mutex>& lock, const Key& key, std::chrono::milliseconds wait,
             Make make, Keep keep) {
    if (const auto running = running_.find(key); running != running_.end()) {
      const std::shared_future<Value> other = running->second;
      lock.unlock();
      if (other.wait_for(wait) != std::future_status::ready) throw ActionFailed();
      return other.get();
    }
    std::promise<Value> promise;
    running_.emplace(key, promise.get_future().share());
    lock.unlock();
    try {
      Value value = make();
      lock.lock();
      keep(value);
      running_.erase(key);
      promise.set_value(value);
      return value;
    } catch (...) {
      if (!lock.owns_lock()) lock.lock();
      running_.erase(key);
      promise.set_exception(std::current_exception());
      throw;
    }
  }

 private:
  std::map<Key, std::shared_future<Value>> running_;
};

}  // namespace detail

class RecentListings {
 public:
  using Reader = std::function<std::shared_ptr<const FolderListing>(const std::string& folder)>;
  // reader: how a folder is read (a FolderListing of it, by default); tests count the reads.
  explicit RecentListings(char separator, ListingLimits limits = {}, Reader reader = {});

  // The folder's listing in the order keys give: kept, being made by another Browse (waited
  // for), or made now.
  std::shared_ptr<const OrderedListing> Of(const std::string& folder,
                                           const std::vector<SortKey>& keys);

 private:
  using Clock = std::chrono::steady_clock;
  using Listing = std::shared_ptr<const FolderListing>;
  using Ordered = std::shared_ptr<const OrderedListing>;
  struct Read {
    Listing listing;
    Clock::time_point at;  // when it began
  };
  struct Kept {
    std::string folder, keys;
    Clock::time_point made;
    Ordered ordered;
  };
  Read ReadOf(const std::string& folder);
  void DropStale(Clock::time_point now);
  void Keep(Kept kept);

  const char separator_;
  const ListingLimits limits_;
  const Reader reader_;
  AnswerPermits reads_;
  std::mutex lock_;
  std::vector<Kept> kept_;  // oldest first; bounded by keptListings and keptBytes
  // The last reads, for orderings asked while they are fresh; they hold no memory of their own.
  std::map<std::string, std::pair<Clock::time_point, std::weak_ptr<const FolderListing>>> readsDone_;
  detail::Joined<std::string, Read> reading_;                                // by folder
  detail::Joined<std::pair<std::string, std::string>, Ordered> ordering_;   // by folder and keys
};

}  // namespace tovi::dlna
