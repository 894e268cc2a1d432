#include "dlna/facts_cache.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <utility>

#include "dlna/file_facts.h"

namespace tovi::dlna {

namespace {

// Facts are kept by a 64-bit hash of the path, not the path: a third of the memory. Two paths of
// one hash would also need the same size and modification time to be mistaken for each other.
std::uint64_t KeyOf(const std::string& path) {
  return static_cast<std::uint64_t>(std::hash<std::string_view>{}(path));
}

bool SameStamp(const fs::FileStamp& a, const fs::FileStamp& b) {
  return a.size == b.size && a.modifiedSeconds == b.modifiedSeconds &&
         a.modifiedNanos == b.modifiedNanos && a.directory == b.directory;
}

}  // namespace

FactsCache::FactsCache(FactsCacheOptions options)
    : reader_(options.reader ? std::move(options.reader) : FactsReader(ReadPathFacts)),
      limits_(options.limits),
      worker_([this] { Work(); }) {}

FactsCache::~FactsCache() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    stopping_ = true;
    queue_.clear();
    queued_.clear();
  }
  workArrived_.notify_all();
  worker_.join();
}

std::vector<std::optional<FileFacts>> FactsCache::ForAnswer(const std::vector<FactsWanted>& wanted) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(limits_.browseWaitMs);
  std::vector<std::optional<FileFacts>> facts(wanted.size());
  std::unique_lock<std::mutex> lock(lock_);
  std::vector<Job> missing;
  for (const FactsWanted& w : wanted) {
    const std::uint64_t key = KeyOf(w.path);
    if (!Find(key, w.stamp)) missing.push_back(Job{key, w});
  }
  if (!missing.empty()) {
    Enqueue(missing);
    workArrived_.notify_one();
    factsRead_.wait_until(lock, deadline, [&] {
      return std::none_of(missing.begin(), missing.end(),
                          [&](const Job& job) { return Pending(job.key); });
    });
  }
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (const Kept* k = Find(KeyOf(wanted[i].path), wanted[i].stamp)) facts[i] = k->facts;
  }
  return facts;
}

FileFacts FactsCache::Now(const FactsWanted& wanted) {
  const std::uint64_t key = KeyOf(wanted.path);
  {
    std::lock_guard<std::mutex> lock(lock_);
    if (const Kept* k = Find(key, wanted.stamp)) return k->facts;
  }
  std::optional<FileFacts> facts = Read(wanted);
  if (!facts) return FileFacts{};
  std::lock_guard<std::mutex> lock(lock_);
  Keep(key, wanted.stamp, *facts);
  return *std::move(facts);
}

std::optional<FileFacts> FactsCache::Known(const std::string& path) const {
  std::lock_guard<std::mutex> lock(lock_);
  const auto found = kept_.find(KeyOf(path));
  if (found == kept_.end()) return std::nullopt;
  return found->second.facts;
}

const FactsCache::Kept* FactsCache::Find(std::uint64_t key, const fs::FileStamp& stamp) const {
  const auto found = kept_.find(key);
  return found != kept_.end() && SameStamp(found->second.stamp, stamp) ? &found->second : nullptr;
}

void FactsCache::Keep(std::uint64_t key, const fs::FileStamp& stamp, FileFacts facts) {
  const auto [at, added] = kept_.insert_or_assign(key, Kept{stamp, std::move(facts)});
  (void)at;
  if (!added) return;
  keptOrder_.push_back(key);
  while (kept_.size() > limits_.maxEntries && !keptOrder_.empty()) {
    kept_.erase(keptOrder_.front());
    keptOrder_.pop_front();
  }
}

// The answer's files go first, in their order; one asked before moves up; past the bound the
// oldest asked are dropped (a later Browse asks for them again).
void FactsCache::Enqueue(const std::vector<Job>& jobs) {
  std::vector<Job> front;
  for (const Job& job : jobs) {
    if (reading_ == job.key) continue;
    if (queued_.count(job.key)) {
      std::erase_if(queue_, [&](const Job& queued) { return queued.key == job.key; });
      queued_.erase(job.key);
    }
    if (front.size() < limits_.maxQueued) {
      front.push_back(job);
      queued_.insert(job.key);
    }
  }
  queue_.insert(queue_.begin(), front.begin(), front.end());
  while (queue_.size() > limits_.maxQueued) {
    queued_.erase(queue_.back().key);
    queue_.pop_back();
  }
}

bool FactsCache::Pending(std::uint64_t key) const {
  return reading_ == key || queued_.count(key) != 0;
}

std::optional<FileFacts> FactsCache::Read(const FactsWanted& wanted) const {
  try {
    return reader_(wanted.path, wanted.stamp);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void FactsCache::Work() {
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    workArrived_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    queued_.erase(job.key);
    reading_ = job.key;
    lock.unlock();
    std::optional<FileFacts> facts = Read(job.wanted);
    lock.lock();
    reading_.reset();
    if (facts) Keep(job.key, job.wanted.stamp, *std::move(facts));
    factsRead_.notify_all();
  }
}

}  // namespace tovi::dlna
