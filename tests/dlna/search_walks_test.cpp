// What a Search's walks and answers keep, against the bounds they are kept within.
#include "dlna/search_walks.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>

namespace tovi::dlna {
namespace {

TEST(SearchWalks, AnAnswerOverAWalkThatGaveWayMeanwhileIsNotKept) {
  SearchLimits limits;
  limits.keptWalks = 1;
  SearchWalks walks(limits);
  const auto walker = [](SearchProgress& progress) {
    progress.Add({ListedObject{"/a/", nullptr, {}, {}}}, 4, 1000);
  };
  // A criteria's matching that takes its time while another container's walk is kept.
  std::mutex lock;
  std::condition_variable changed;
  bool walked = false, goOn = false;
  auto slow = std::async(std::launch::async, [&] {
    return walks.Of("A", "A slow", walker, [&](const SearchWalk&) {
      std::unique_lock<std::mutex> held(lock);
      walked = true;
      changed.notify_all();
      changed.wait_for(held, std::chrono::seconds(10), [&] { return goOn; });
      return std::vector<std::uint32_t>{0};
    });
  });
  {
    std::unique_lock<std::mutex> held(lock);
    ASSERT_TRUE(changed.wait_for(held, std::chrono::seconds(10), [&] { return walked; }));
  }
  walks.Of("B", "B", walker, [](const SearchWalk&) { return std::vector<std::uint32_t>{}; });
  {
    std::lock_guard<std::mutex> held(lock);
    goOn = true;
  }
  changed.notify_all();
  const std::weak_ptr<const SearchWalk> walkOfA = slow.get()->walk;
  // B's walk took A's place: nothing is to hold A's walk once its Search has its answer.
  EXPECT_TRUE(walkOfA.expired());
}

// Walks held by reads that do not end (a lost network drive) keep their turns; another Search,
// of another container or joining one of them, gives up within its bounds (with 501), so that a
// switch-off's 5 s for connection threads is never outlasted.
TEST(SearchWalks, SearchesBesideWalksHeldByAStuckReadEndWithinTheSwitchOffsLimit) {
  SearchLimits limits;
  limits.walksAtOnce = 1;
  limits.walkMs = 200;
  limits.lateMs = 100;
  SearchWalks walks(limits);
  std::promise<void> readEnds;
  std::shared_future<void> stuck = readEnds.get_future().share();
  const auto stuckWalker = [stuck](SearchProgress&) { stuck.wait_for(std::chrono::seconds(30)); };
  const auto none = [](const SearchWalk&) { return std::vector<std::uint32_t>{}; };
  walks.Of("A", "A", stuckWalker, none);  // answered with nothing found, the read still going
  for (const char* container : {"B", "A"}) {
    SCOPED_TRACE(container);
    const auto start = std::chrono::steady_clock::now();
    try {
      walks.Of(container, std::string(container) + " other", stuckWalker, none);
    } catch (const UpnpError& e) {
      EXPECT_EQ(e.Code(), 501);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
  readEnds.set_value();
}

}  // namespace
}  // namespace tovi::dlna
