// A video's subtitles: found beside it, and served to players as UTF-8.
// Beside "<stem>.<video extension>" a subtitle is "<stem>.<kind>" or "<stem>.<tag>.<kind>", kind
// one of SubtitleTypeOfName's (the extension in any case), tag a language ("ru", "rus",
// "Russian", "pt-BR") or another short word ("forced"). They are offered in this order: those
// whose tag names the PC's language, then "<stem>.srt", then the other untagged ones, then the
// other tagged ones; within each, by kind (srt, ass, ssa, vtt, sub), then by name. At most
// kMaxSubtitlesPerVideo.
// Serving converts the text as subtitle_text.h says; a subtitle it leaves, or one that finds no
// room (SubtitleServingLimits), goes out as the file's bytes.
// Thread safety: SubtitleIndex is built on one thread, then only read; SubtitlesBeside and
// SubtitleServer::Stream may run on several connection threads at once.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dlna/media_types.h"
#include "http/server/http_server.h"
#include "server/file_stream.h"
#include "server/media_handler.h"

namespace tovi::dlna {

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
    std::string_view path, tag;
    const SubtitleType* type;
  };
  std::string language_;
  std::unordered_map<std::string_view, std::vector<Candidate>> byStem_;
};

// The same found without a listing: the video's folder searched for "<stem>.*".
std::vector<FoundSubtitle> SubtitlesBeside(const std::string& videoPath,
                                           const std::string& language);

struct SubtitleServingLimits {
  // What the subtitles being converted and sent may hold together (each its file and the text's
  // largest UTF-8 form, four times its size): room for the largest two at once, or hundreds of
  // ordinary ones.
  std::int64_t maxHeldBytes = 64ll << 20;
  // How long a subtitle waits for room; then it goes out as it is rather than not at all.
  int roomWaitMs = 5000;
};

class SubtitleServer {
 public:
  explicit SubtitleServer(SubtitleServingLimits limits = {});

  // Answers a GET or HEAD of the subtitle at path with its text in UTF-8 (a UTF-8 BOM first when
  // withBom): Content-Length and ranges are the converted text's. Throws as StreamLocalFile does.
  void Stream(http::TNetPeerThread& thread, const std::string& path,
              http::TNetHTTPRequestInfo& request, http::TNetHTTPResponseInfo& response,
              const server::StreamOptions& options, bool withBom);

 private:
  const SubtitleServingLimits limits_;
  server::SharedRoom room_;
};

}  // namespace tovi::dlna
