// The listings Browse pages through: how often a folder is read when many Browses ask for it at
// once or one after another, and what the bounds keep.
#include "dlna/folder_listing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tovi::dlna {
namespace {

using testing::TempDir;

// A folder of count films "film0.mp4"... under dir.
std::string FolderOfFilms(const TempDir& dir, const std::string& name, int count) {
  for (int i = 0; i < count; ++i) dir.Write(name + "/film" + std::to_string(i) + ".mp4", "");
  return dir.Folder() + name + fs::kSeparator;
}

// Reads folders as the program does, counting the reads; each read first waits (a bounded time)
// until `callers` Browses have asked, so that they all ask while it runs.
struct CountedReads {
  std::atomic<int> reads{0}, asked{0};
  int callers = 0;
  RecentListings::Reader Reader(const ListingLimits& limits) {
    return [this, limits](const std::string& folder) {
      ++reads;
      testing::WaitUntil([this] { return asked.load() >= callers; }, 5000);
      return std::make_shared<const FolderListing>(folder, fs::kSeparator, limits.maxObjects);
    };
  }
};

TEST(FolderListings, BrowsesOfAFolderAtOnceWaitForOneRead) {
  TempDir dir;
  const std::string folder = FolderOfFilms(dir, "big", 500);
  const std::vector<SortKey> byDate{{SortKey::Property::Date, true}};
  struct Case {
    const char* what;
    bool halfByDate;  // half of the Browses ask for another order
  };
  for (const Case c : {Case{"one order", false}, Case{"two orders", true}}) {
    constexpr int kBrowses = 16;
    CountedReads counted;
    counted.callers = kBrowses;
    const ListingLimits limits;
    RecentListings recent(fs::kSeparator, limits, counted.Reader(limits));
    std::vector<std::size_t> sizes(kBrowses);
    std::vector<std::thread> browses;
    for (int i = 0; i < kBrowses; ++i) {
      browses.emplace_back([&, i] {
        ++counted.asked;
        const bool dated = c.halfByDate && i % 2 == 1;
        sizes[i] = recent.Of(folder, dated ? byDate : std::vector<SortKey>{})->Size();
      });
    }
    for (std::thread& t : browses) t.join();
    EXPECT_EQ(counted.reads.load(), 1) << c.what;
    for (const std::size_t size : sizes) EXPECT_EQ(size, 500u) << c.what;
  }
}

TEST(FolderListings, KeptListingsStayWithinTheirCountAndBytes) {
  TempDir dir;
  const std::string a = FolderOfFilms(dir, "a", 200), b = FolderOfFilms(dir, "b", 200);
  const std::size_t oneListing = FolderListing(a, fs::kSeparator, ListingLimits{}.maxObjects).Bytes();
  struct Case {
    const char* what;
    std::size_t keptListings, keptBytes;
    std::vector<std::string> browsed;
    int reads;
  };
  const Case cases[] = {
      {"both kept", 8, oneListing * 3, {a, b, a, b}, 2},
      {"one folder kept", 1, oneListing * 3, {a, b, a}, 3},
      {"one listing's bytes kept", 8, oneListing * 3 / 2, {a, b, a}, 3},
      {"a listing larger than all kept", 8, oneListing / 2, {a, a}, 2},
  };
  for (const Case& c : cases) {
    CountedReads counted;
    ListingLimits limits;
    limits.freshMs = 60000;  // only the bounds make a listing go
    limits.keptListings = c.keptListings;
    limits.keptBytes = c.keptBytes;
    RecentListings recent(fs::kSeparator, limits, counted.Reader(limits));
    for (const std::string& folder : c.browsed) EXPECT_EQ(recent.Of(folder, {})->Size(), 200u);
    EXPECT_EQ(counted.reads.load(), c.reads) << c.what;
  }
}

TEST(FolderListings, AFolderListsAtMostMaxObjects) {
  TempDir dir;
  const std::string folder = FolderOfFilms(dir, "many", 30);
  const std::size_t bounded = FolderListing(folder, fs::kSeparator, 10).Size();
  EXPECT_LE(bounded, 10u);  // "." and ".." count among the entries read
  EXPECT_GE(bounded, 8u);
  EXPECT_EQ(FolderListing(folder, fs::kSeparator, 1000).Size(), 30u);
}

}  // namespace
}  // namespace tovi::dlna
