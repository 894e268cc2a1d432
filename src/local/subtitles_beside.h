// A video's subtitles found beside it.
// Beside "<stem>.<video extension>" a subtitle is "<stem>.<kind>", "<stem>.<tag>.<kind>" or
// "<stem>.<language>.<flag>.<kind>" (the stem as the file system compares names: in any letter
// case on Windows, exactly on POSIX), kind one of SubtitleTypeOfName's (the extension in any
// case), tag a language ("ru", "rus", "Russian", "pt-BR") or another short word ("forced"), flag
// what the subtitle holds ("forced", "sdh"). They are offered in this order: those with a tag
// naming the PC's language, then "<stem>.srt", then the other untagged ones, then the other
// tagged ones; within each, those without a flag first, then by kind (srt, ass, ssa, vtt, sub),
// then by name. At most kMaxSubtitlesPerVideo.
// Thread safety: SubtitleIndex is built on one thread, then only read; SubtitlesBeside may run on
// several threads at once.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "local/media_types.h"

namespace tovi::local {

// Players show a handful; a folder with a dozen languages per film costs each item no more.
inline constexpr std::size_t kMaxSubtitlesPerVideo = 8;

struct FoundSubtitle {
  std::string path;
  const SubtitleType* type = nullptr;  // never null
};

// The subtitles of a folder's listing by the video they belong to: one pass over the listing
// (Add), then one lookup per video (For).
class SubtitleIndex {
 public:
  // language: the PC's, as regional::UserLanguage() names it ("" for none).
  explicit SubtitleIndex(std::string language);
  // A path of the listing; other files than subtitles are passed over. The index keeps a view of
  // it: the path must outlive the index.
  void Add(std::string_view path);
  std::vector<FoundSubtitle> For(std::string_view videoPath) const;

 private:
  struct Candidate {
    std::string_view path, tag;  // tag: "", "ru", "ru.forced"
    const SubtitleType* type;
  };
  std::string language_;
  // Keyed by the stem's fs::NameKey.
  std::unordered_map<std::string, std::vector<Candidate>> byStem_;
  // The stems of VobSub indexes (".idx"): the ".sub" of one is its pictures, not text.
  std::unordered_set<std::string> pictureStems_;
};

// The same found without a listing: the video's folder searched for "<stem>.*".
std::vector<FoundSubtitle> SubtitlesBeside(const std::string& videoPath,
                                           const std::string& language);

}  // namespace tovi::local
