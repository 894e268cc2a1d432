// The walks a Search makes of a container's subtree, and what they found, kept for the criteria
// and the pages that follow (a control point pages, and asks one container for several classes
// in a row). A walk lists each folder as Browse lists it (folder_listing.h), depth first, each
// folder once, until SearchLimits stop it; it runs on a thread of its own, since a folder's read
// cannot be cut short (a lost network drive's takes a minute), and the Search takes what it found
// by its time. Those who ask for a walk or a matching already running join it.
// Bounds: SearchLimits (walks at once and each walk's folders, objects and time; the walks and
// answers kept, their bytes and their life; the wait for a turn).
// Errors: SearchWalks::Of throws UpnpError 501 (ActionFailed) when no turn comes within
// turnWaitMs, a walk or matching joined does not end within its wait, or no thread starts;
// what walk and match throw goes to the caller.
// Thread safety: every member may be called from several connection threads at once.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dlna/answer_permits.h"
#include "dlna/folder_listing.h"

namespace tovi::dlna {

// What one Search's walk of a subtree may cost: what it found within these is the answer
// (TotalMatches counts that). A 2-core PC lists a few thousand folders of a real disk in a second
// or two; control points wait several seconds for an answer, not forever.
struct SearchLimits {
  int walkMs = 2000;                // the walk stops after the folder it is in past this
  // How long past walkMs a Search waits for the folder being read then (a lost network drive's
  // read takes a minute); then it answers with what was found, and the walk ends after that read.
  int lateMs = 1000;
  std::size_t maxFolders = 5000;    // folders listed
  std::size_t maxObjects = 50000;   // objects gathered, folders and files (about 200 bytes each)
  // How long a walk serves further criteria and pages, and how many are kept: the media and the
  // playlists a Windows player asks for in a row, of one or two containers.
  int keptMs = 60000;
  std::size_t keptWalks = 4;
  std::size_t keptBytes = std::size_t{32} << 20;  // the walks kept together
  std::size_t keptAnswers = 16;     // the matches of one criteria in one order: 4 bytes each
  // Others wait their turn, at most turnWaitMs, then fail (501); a walk holds its turn until the
  // read it is in ends, even after its Search took what it found. One that joins a walk being
  // made waits as long as that may take (JoinWaitMs). Both within the 5 s a switch-off gives a
  // connection's thread, so that two walks held by a lost network drive do not make it fail.
  int walksAtOnce = 2;
  int turnWaitMs = 1500;
  int JoinWaitMs() const { return turnWaitMs + walkMs + lateMs; }
};

// A subtree as a walk found it, and the matches of one criteria in one order.
struct SearchWalk {
  std::vector<ListedObject> objects;  // each folder's listing in turn, depth first
  std::size_t longestId = 0;
  std::size_t bytes = 0;  // about
};
struct SearchAnswer {
  std::shared_ptr<const SearchWalk> walk;
  std::vector<std::uint32_t> matches;  // in the answer's order
};

// What a walk has found so far, shared by the walk's own thread and the Search that waits for it.
class SearchProgress {
 public:
  // Adds a folder's objects; false once the Search took what was found (the walk then ends).
  bool Add(std::vector<ListedObject> objects, std::size_t longestId, std::size_t bytes);
  void Finish();
  // What was found when the walk ended, or by deadline.
  SearchWalk Take(std::chrono::steady_clock::time_point deadline);

 private:
  std::mutex lock_;
  std::condition_variable finished_;
  SearchWalk walk_;
  bool done_ = false, taken_ = false;
};

// The objects under the starting folders (those of "0" or one folder), each folder listed as
// Browse lists it (at most folderObjects of it) and walked once, until limits stop it or the
// Search took what it found.
void WalkSubtree(const std::vector<std::string>& starts, char separator, const SearchLimits& limits,
                 std::size_t folderObjects, SearchProgress& progress);

class SearchWalks {
 public:
  using Walk = std::shared_ptr<const SearchWalk>;
  using Answer = std::shared_ptr<const SearchAnswer>;
  // Runs on the walk's own thread and holds nothing of the caller's.
  using Walker = std::function<void(SearchProgress&)>;
  using Matcher = std::function<std::vector<std::uint32_t>(const SearchWalk&)>;

  explicit SearchWalks(const SearchLimits& limits);

  // The answer kept for answerKey, or match over the walk kept for container, or over a walk
  // made now by walk.
  Answer Of(const std::string& container, const std::string& answerKey, const Walker& walk,
            const Matcher& match);

 private:
  using Clock = std::chrono::steady_clock;
  struct KeptWalk {
    std::string container;
    Clock::time_point made;
    Walk walk;
  };
  struct KeptAnswer {
    std::string key;
    Clock::time_point made;
    Answer answer;
  };

  Walk WalkOf(const std::string& container, const Walker& walk);
  void Keep(KeptWalk kept);
  void DropAnswersOf(const Walk& walk);
  void DropStale();

  const SearchLimits limits_;
  const std::shared_ptr<AnswerPermits> walks_;  // outlives this while a walk's thread holds a turn
  std::mutex lock_;
  std::vector<KeptWalk> walks_kept_;  // oldest first
  std::vector<KeptAnswer> answers_;   // oldest first
  detail::Joined<std::string, Walk> walking_;     // by container
  detail::Joined<std::string, Answer> matching_;  // by container, criteria and order
};

}  // namespace tovi::dlna
