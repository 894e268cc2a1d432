// What the tree knows of its files' contents (length, picture size, sound, cover) and of its
// folders' posters, kept by path, size and modification time, so that a second Browse of a
// folder reads nothing. A Browse answer waits for facts at most browseWaitMs in all: what is not
// read by then goes out without them and is read behind the answer by one worker, newest asked
// first, so that the next page or the next visit has them.
// Bounds: maxEntries facts kept (the first kept gives way first), maxQueued reads waiting (the
// oldest asked gives way); a read is bounded by ByteSource's budget. The destructor stops the
// worker and waits for the one read it may be in, no more.
// Errors: a reader that throws (a file another program holds, a drive gone for a moment) gives
// empty facts that are not kept: the next answer asks again, since the file is often back as
// it was, with the same stamp. Nothing here throws but std::bad_alloc.
// Thread safety: every member may be called from several connection threads at once.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "media/facts.h"
#include "platform/files.h"

namespace tovi::dlna {

// A file's facts, or a folder's: then `art` names its poster file (no folder, "" = none) and
// `media` holds that poster's picture size.
struct FileFacts {
  media::MediaFacts media;
  std::string art;
};

// Reads one file's or folder's facts from the disk (stamp.directory says which).
using FactsReader = std::function<FileFacts(const std::string& path, const fs::FileStamp& stamp)>;

// Facts of 50,000 files and folders: more than most homes' whole library. Each costs 200 bytes
// (measured with glibc's allocator: 10 MB for all, 4 MB for 20,000).
inline constexpr std::size_t kFactsKept = 50000;
// How long one Browse answer waits for facts in all: players give up on a slow server after a
// few seconds, and a page of 500 cached items is written in a fraction of this.
inline constexpr int kBrowseFactsWaitMs = 300;
// Reads waiting behind the answers: four pages of the largest Browse answer.
inline constexpr std::size_t kFactsQueued = 2000;

struct FactsCacheLimits {
  std::size_t maxEntries = kFactsKept;
  int browseWaitMs = kBrowseFactsWaitMs;
  std::size_t maxQueued = kFactsQueued;
};

struct FactsCacheOptions {
  FactsReader reader;  // empty: ReadPathFacts, the disk's own
  FactsCacheLimits limits;
};

// One file or folder a Browse answer wants facts of, as stamped when it was listed.
struct FactsWanted {
  std::string path;
  fs::FileStamp stamp;
};

class FactsCache {
 public:
  explicit FactsCache(FactsCacheOptions options = {});
  ~FactsCache();
  FactsCache(const FactsCache&) = delete;
  FactsCache& operator=(const FactsCache&) = delete;

  // Facts of each wanted file, in order: the kept ones at once, the others as the worker reads
  // them while the answer waits (browseWaitMs in all); nothing for those not read by then.
  std::vector<std::optional<FileFacts>> ForAnswer(const std::vector<FactsWanted>& wanted);
  // One file's facts, read on the calling thread when they are not kept (a resource's answer).
  FileFacts Now(const FactsWanted& wanted);
  // The facts last kept for path, whatever its stamp then; nothing when it was never read.
  std::optional<FileFacts> Known(const std::string& path) const;

 private:
  struct Kept {
    fs::FileStamp stamp;
    FileFacts facts;
  };
  struct Job {
    std::uint64_t key;
    FactsWanted wanted;
  };

  const Kept* Find(std::uint64_t key, const fs::FileStamp& stamp) const;  // under lock_
  void Keep(std::uint64_t key, const fs::FileStamp& stamp, FileFacts facts);  // under lock_
  void Enqueue(const std::vector<Job>& jobs);  // under lock_
  bool Pending(std::uint64_t key) const;       // under lock_
  std::optional<FileFacts> Read(const FactsWanted& wanted) const;  // nothing: not readable now
  void Work();

  const FactsReader reader_;
  const FactsCacheLimits limits_;
  mutable std::mutex lock_;
  std::condition_variable workArrived_, factsRead_;
  std::unordered_map<std::uint64_t, Kept> kept_;  // by the path's hash
  std::deque<std::uint64_t> keptOrder_;           // first kept first
  std::deque<Job> queue_;                         // newest asked first
  std::unordered_set<std::uint64_t> queued_;
  std::optional<std::uint64_t> reading_;          // the worker's job, out of the queue
  bool stopping_ = false;
  std::thread worker_;  // last: starts once the rest is built
};

}  // namespace tovi::dlna
