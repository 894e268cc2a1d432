// The files' facts as Browse answers carry them: read once and kept until a file changes, an
// answer that never waits past its bound for them, and a queue and a store that stay within
// theirs.
#include "dlna/facts_cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dlna/file_facts.h"
#include "dlna/folder_content.h"
#include "dlna/object_ids.h"
#include "support/fake_facts.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tovi::dlna {
namespace {

using Clock = std::chrono::steady_clock;

int ElapsedMs(Clock::time_point since) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

media::MediaFacts Lasting(std::uint64_t ms) {
  media::MediaFacts facts;
  facts.durationMs = ms;
  return facts;
}

class FactsInBrowse : public ::testing::Test {
 protected:
  void Start(FactsCacheLimits limits = {}) {
    FolderContentOptions options = PlatformFolderContentOptions();
    const std::string drive = dir_.Folder();
    options.drives = [drive] { return std::vector<std::string>{drive}; };
    options.facts = FactsCacheOptions{fake_.Reader(), limits};
    content_.emplace(std::move(options));
  }
  std::string BrowseFolder() {
    BrowseRequest request;
    request.objectId = ObjectIdOfPath(dir_.Folder());
    return content_->Browse(request, "http://127.0.0.1:8027").didl;
  }

  tovi::testing::TempDir dir_;
  tovi::testing::FakeFacts fake_;
  std::optional<FolderContent> content_;
};

TEST_F(FactsInBrowse, SecondBrowseReadsNothingUntilAFileChanges) {
  const std::string film = dir_.Write("film.mkv", "film");
  const std::string clip = dir_.Write("clip.mp4", "clip");
  dir_.Write("song.mp3", "song");
  dir_.MakeFolder("Sub");
  fake_.Set(film, Lasting(3030));
  fake_.Set(clip, Lasting(1000));
  Start();
  const std::string first = BrowseFolder();
  EXPECT_EQ(fake_.Reads(), 4);  // three files and the folder's poster
  EXPECT_EQ(Count(first, "duration=\"0:00:03.030\""), 1) << first;
  EXPECT_EQ(BrowseFolder(), first);
  EXPECT_EQ(fake_.Reads(), 4);

  struct Change { const char* what; std::function<void()> make; std::string expected; };
  const Change changes[] = {
      {"a new size", [&] { fake_.Set(clip, Lasting(2000)); dir_.Write("clip.mp4", "longer clip"); },
       "duration=\"0:00:02.000\""},
      {"a new modification time", [&] {
         fake_.Set(film, Lasting(4040));
         const std::filesystem::path path(std::u8string(film.begin(), film.end()));
         std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) +
                                                    std::chrono::seconds(10));
       }, "duration=\"0:00:04.040\""},
  };
  int reads = fake_.Reads();
  for (const Change& c : changes) {
    SCOPED_TRACE(c.what);
    c.make();
    const std::string didl = BrowseFolder();
    EXPECT_EQ(fake_.Reads(), ++reads);
    EXPECT_EQ(Count(didl, c.expected), 1) << didl;
  }
}

TEST_F(FactsInBrowse, AnswerWaitsAtMostItsBoundAndTheNextOneHasTheRest) {
  constexpr int kFiles = 12;
  constexpr int kReadMs = 100;  // a slow disk: all the files' facts take four times the bound
  for (int i = 0; i < kFiles; ++i) {
    fake_.Set(dir_.Write("film" + std::to_string(i) + ".mkv", "x"), Lasting(1000 + i));
  }
  fake_.SetReadMs(kReadMs);
  Start();
  const auto start = Clock::now();
  const std::string first = BrowseFolder();
  const int firstMs = ElapsedMs(start);
  // Slack for a loaded machine, well short of reading all the files.
  EXPECT_LT(firstMs, kBrowseFactsWaitMs + 400);
  EXPECT_LT(Count(first, "duration="), kFiles) << first;
  EXPECT_EQ(Count(first, "<item "), kFiles);

  ASSERT_TRUE(tovi::testing::WaitUntil([&] { return fake_.Reads() == kFiles; }, 10000));
  const std::string second = BrowseFolder();
  EXPECT_EQ(Count(second, "duration="), kFiles) << second;
  EXPECT_EQ(fake_.Reads(), kFiles);
}

// A recording its recorder still holds, or a drive gone for a moment: nothing could be read, and
// the file is often back as it was, with the same size and time.
TEST(FactsCacheUnreadable, AFileThatCouldNotBeOpenedIsReadAgainWithTheSameStamp) {
  tovi::testing::TempDir dir;
  const FactsWanted film{dir.Path("film.mkv"), fs::FileStamp{4, 0, false}};
  EXPECT_THROW(ReadPathFacts(film.path, film.stamp), std::exception);

  bool held = true;
  int reads = 0;
  FactsCacheLimits limits;
  limits.browseWaitMs = 10000;  // each answer has its read, however loaded the machine
  FactsCache cache(FactsCacheOptions{[&](const std::string&, const fs::FileStamp&) {
    ++reads;
    if (held) throw std::runtime_error("I/O error 32");
    return FileFacts{Lasting(1000), {}};
  }, limits});
  EXPECT_FALSE(cache.ForAnswer({film}).front());
  EXPECT_FALSE(cache.Now(film).media.durationMs);
  held = false;
  EXPECT_EQ(cache.ForAnswer({film}).front()->media.durationMs, 1000u);
  EXPECT_EQ(cache.Now(film).media.durationMs, 1000u);
  EXPECT_EQ(reads, 3);
}

// A reader that holds its first read until let go (within a bound), counting every read.
class HeldReader {
 public:
  FactsReader Reader() {
    return [this](const std::string&, const fs::FileStamp&) {
      std::unique_lock<std::mutex> lock(lock_);
      if (++reads_ == 1) released_.wait_for(lock, std::chrono::seconds(10), [&] { return free_; });
      return FileFacts{Lasting(1), {}};
    };
  }
  void Release() {
    { std::lock_guard<std::mutex> lock(lock_); free_ = true; }
    released_.notify_all();
  }
  int Reads() {
    std::lock_guard<std::mutex> lock(lock_);
    return reads_;
  }

 private:
  std::mutex lock_;
  std::condition_variable released_;
  bool free_ = false;
  int reads_ = 0;
};

std::vector<FactsWanted> Files(int first, int count) {
  std::vector<FactsWanted> files;
  for (int i = first; i < first + count; ++i) {
    files.push_back(FactsWanted{"/films/" + std::to_string(i) + ".mkv", fs::FileStamp{i, 0, false}});
  }
  return files;
}

TEST(FactsCacheBounds, QueueStoreAndStopStayWithinTheirBounds) {
  HeldReader held;
  FactsCacheLimits limits;
  limits.maxQueued = 3;
  limits.maxEntries = 5;
  limits.browseWaitMs = 0;
  FactsCache cache(FactsCacheOptions{held.Reader(), limits});
  cache.ForAnswer(Files(0, 10));  // file 0 is read (held), 1 and 2 wait
  ASSERT_TRUE(tovi::testing::WaitUntil([&] { return held.Reads() == 1; }, 5000));
  cache.ForAnswer(Files(10, 10));  // the newest page goes first: 10, 11, 12; 1 and 2 give way
  held.Release();
  ASSERT_TRUE(tovi::testing::WaitUntil([&] { return cache.Known("/films/12.mkv").has_value(); }, 5000));
  EXPECT_EQ(held.Reads(), 1 + static_cast<int>(limits.maxQueued));
  EXPECT_FALSE(cache.Known("/films/1.mkv"));
  for (const FactsWanted& file : Files(20, 3)) cache.Now(file);  // seven kept: two give way
  EXPECT_FALSE(cache.Known("/films/0.mkv"));
  EXPECT_FALSE(cache.Known("/films/10.mkv"));
  EXPECT_TRUE(cache.Known("/films/11.mkv"));
  EXPECT_TRUE(cache.Known("/films/22.mkv"));

  // Stopping waits for the read in progress, not for the queue.
  tovi::testing::FakeFacts slow;
  slow.SetReadMs(200);
  limits.maxQueued = 100;
  std::optional<FactsCache> busy(FactsCacheOptions{slow.Reader(), limits});
  busy->ForAnswer(Files(0, 50));
  ASSERT_TRUE(tovi::testing::WaitUntil([&] { return slow.Reads() == 1; }, 5000));
  const auto start = Clock::now();
  busy.reset();
  EXPECT_LT(ElapsedMs(start), 1000);
  EXPECT_LE(slow.Reads(), 2);
}

}  // namespace
}  // namespace tovi::dlna
