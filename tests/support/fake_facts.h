// A stand-in for the container readers: facts the test sets per file, each read counted and,
// when asked, slowed as a slow disk would. Folders are read as the program reads them (their
// poster from their listing). Thread-safe: the cache's worker and the test call it at once.
#pragma once
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "dlna/facts_cache.h"
#include "dlna/file_facts.h"

namespace tovi::testing {

class FakeFacts {
 public:
  void Set(const std::string& path, const media::MediaFacts& facts) {
    std::lock_guard<std::mutex> lock(lock_);
    facts_[path] = facts;
  }
  // Each file's read takes this long from now on.
  void SetReadMs(int ms) { readMs_ = ms; }
  int Reads() const { return reads_; }

  // The reader to give the cache; this must outlive the cache.
  dlna::FactsReader Reader() {
    return [this](const std::string& path, const fs::FileStamp& stamp) {
      ++reads_;
      if (stamp.directory) return dlna::ReadPathFacts(path, stamp);
      std::this_thread::sleep_for(std::chrono::milliseconds(readMs_.load()));
      std::lock_guard<std::mutex> lock(lock_);
      const auto found = facts_.find(path);
      return dlna::FileFacts{found == facts_.end() ? media::MediaFacts{} : found->second, {}};
    };
  }

 private:
  std::mutex lock_;
  std::map<std::string, media::MediaFacts> facts_;
  std::atomic<int> readMs_{0};
  std::atomic<int> reads_{0};
};

}  // namespace tovi::testing
