// A video's subtitles (found beside it as local/subtitles_beside.h says) served to players as
// UTF-8: the text converted as subtitle_text.h says; a subtitle it leaves, or one that finds no
// room (SubtitleServingLimits), goes out as the file's bytes.
// Thread safety: SubtitleServer::Stream may run on several connection threads at once.
#pragma once
#include <cstdint>
#include <string>

#include "http/server/http_server.h"
#include "local/subtitles_beside.h"
#include "server/file_stream.h"
#include "server/media_handler.h"

namespace tovi::dlna {

using local::FoundSubtitle;
using local::SubtitleIndex;
using local::SubtitlesBeside;

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
  void Stream(http::TNetTCPServerConnection& connection, const std::string& path,
              http::TNetHTTPRequestInfo& request, http::TNetHTTPResponseInfo& response,
              const server::StreamOptions& options, bool withBom);

 private:
  const SubtitleServingLimits limits_;
  server::SharedRoom room_;
};

}  // namespace tovi::dlna
