#include "dlna/search_walks.h"

#include <algorithm>
#include <set>

#include "dlna/upnp_error.h"
#include "platform/detached_thread.h"
#include "platform/files.h"

namespace tovi::dlna {

// What a Search joining another's matching waits beyond the walk: the matching of a walk's
// objects, a few tests each.
constexpr int kMatchingWaitMs = 500;

bool SearchProgress::Add(std::vector<ListedObject> objects, std::size_t longestId,
                         std::size_t bytes) {
  std::lock_guard<std::mutex> lock(lock_);
  if (taken_) return false;
  for (ListedObject& object : objects) walk_.objects.push_back(std::move(object));
  walk_.longestId = std::max(walk_.longestId, longestId);
  walk_.bytes += bytes;
  return true;
}

void SearchProgress::Finish() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    done_ = true;
  }
  finished_.notify_all();
}

SearchWalk SearchProgress::Take(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(lock_);
  finished_.wait_until(lock, deadline, [&] { return done_; });
  taken_ = true;
  return std::move(walk_);
}

void WalkSubtree(const std::vector<std::string>& starts, char separator, const SearchLimits& limits,
                 std::size_t folderObjects, SearchProgress& progress) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limits.walkMs);
  std::set<std::string> seen(starts.begin(), starts.end());  // folders met, walked or to walk
  std::vector<std::string> toWalk(starts.rbegin(), starts.rend());  // the next one last
  std::size_t folders = 0, found = 0;
  while (!toWalk.empty() && folders < limits.maxFolders && found < limits.maxObjects &&
         std::chrono::steady_clock::now() < deadline) {
    const std::string folder = std::move(toWalk.back());
    toWalk.pop_back();
    ++folders;
    const FolderListing listing(folder, separator, folderObjects);
    std::vector<std::string> inside;
    std::vector<ListedObject> objects;
    std::size_t longestId = 0, bytes = 0;
    for (std::size_t i = 0; i < listing.Size() && found < limits.maxObjects; ++i) {
      ListedObject object = listing.At(i);
      if (!object.type) {
        if (!seen.insert(object.path).second) continue;  // a media folder met in its drive
        if (!fs::IsSystemFolder(object.path)) inside.push_back(object.path);
      }
      longestId = std::max(longestId, 4 * object.path.size() / 3 + 1);
      bytes += sizeof object + object.path.capacity() + object.artPath.capacity();
      for (const FoundSubtitle& subtitle : object.subtitles) {
        bytes += sizeof subtitle + subtitle.path.capacity();
      }
      objects.push_back(std::move(object));
      ++found;
    }
    if (!progress.Add(std::move(objects), longestId, bytes)) return;
    toWalk.insert(toWalk.end(), inside.rbegin(), inside.rend());
  }
}

SearchWalks::SearchWalks(const SearchLimits& limits)
    : limits_(limits), walks_(std::make_shared<AnswerPermits>(limits.walksAtOnce)) {}

SearchWalks::Answer SearchWalks::Of(const std::string& container, const std::string& answerKey,
                                    const Walker& walk, const Matcher& match) {
  std::unique_lock<std::mutex> lock(lock_);
  DropStale();
  for (const KeptAnswer& kept : answers_) {
    if (kept.key == answerKey) return kept.answer;
  }
  return matching_.Once(
      lock, answerKey, std::chrono::milliseconds(limits_.JoinWaitMs() + kMatchingWaitMs),
      [&] {
        const Walk found = WalkOf(container, walk);
        return std::make_shared<const SearchAnswer>(SearchAnswer{found, match(*found)});
      },
      [&](const Answer& answer) {
        // Only over a walk still kept: one that gave way while this matched would otherwise
        // stay, outside the bounds of the walks kept, as long as its answer.
        const bool walkKept =
            std::any_of(walks_kept_.begin(), walks_kept_.end(),
                        [&](const KeptWalk& w) { return w.walk == answer->walk; });
        if (!walkKept) return;
        answers_.push_back(KeptAnswer{answerKey, Clock::now(), answer});
        if (answers_.size() > limits_.keptAnswers) answers_.erase(answers_.begin());
      });
}

namespace {

// A walk's turn, held by its thread until the walk ends (after a read the Search gave up on).
struct Turn {
  std::shared_ptr<AnswerPermits> permits;
  AnswerPermits::Permit permit;
};

}  // namespace

SearchWalks::Walk SearchWalks::WalkOf(const std::string& container, const Walker& walk) {
  std::unique_lock<std::mutex> lock(lock_);
  for (const KeptWalk& kept : walks_kept_) {
    if (kept.container == container) return kept.walk;
  }
  return walking_.Once(
      lock, container, std::chrono::milliseconds(limits_.JoinWaitMs()),
      [&] {
        const std::chrono::milliseconds turnWait(limits_.turnWaitMs);
        auto turn = std::make_shared<Turn>(Turn{walks_, walks_->Acquire(turnWait)});
        if (!turn->permit) throw ActionFailed();
        const auto progress = std::make_shared<SearchProgress>();
        const auto deadline =
            Clock::now() + std::chrono::milliseconds(limits_.walkMs + limits_.lateMs);
        if (!process::StartDetachedThread([progress, turn, walk] {
              walk(*progress);
              progress->Finish();
            })) {
          throw ActionFailed();
        }
        return std::make_shared<const SearchWalk>(progress->Take(deadline));
      },
      [&](const Walk& found) { Keep(KeptWalk{container, Clock::now(), found}); });
}

// The oldest walks give way to the newest, until their count and bytes are within the bounds,
// and the answers over them go with them.
void SearchWalks::Keep(KeptWalk kept) {
  walks_kept_.push_back(std::move(kept));
  std::size_t bytes = 0;
  for (const KeptWalk& k : walks_kept_) bytes += k.walk->bytes;
  while (!walks_kept_.empty() &&
         (walks_kept_.size() > limits_.keptWalks || bytes > limits_.keptBytes)) {
    bytes -= walks_kept_.front().walk->bytes;
    DropAnswersOf(walks_kept_.front().walk);
    walks_kept_.erase(walks_kept_.begin());
  }
}

void SearchWalks::DropAnswersOf(const Walk& walk) {
  std::erase_if(answers_, [&](const KeptAnswer& a) { return a.answer->walk == walk; });
}

void SearchWalks::DropStale() {
  const Clock::time_point now = Clock::now();
  const auto life = std::chrono::milliseconds(limits_.keptMs);
  std::erase_if(answers_, [&](const KeptAnswer& a) { return now - a.made > life; });
  std::erase_if(walks_kept_, [&](const KeptWalk& w) {
    if (now - w.made <= life) return false;
    DropAnswersOf(w.walk);
    return true;
  });
}

}  // namespace tovi::dlna
