#include "server/media_handler.h"

#include <stdexcept>

#include "http/header_list.h"
#include "local/listing.h"
#include "local/paths.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/regional.h"
#include "server/file_stream.h"
#include "server/media_port.h"
#include "server/playlists.h"
#include "server/texts.h"

namespace tovi::server {

namespace {

// The framework's list error, with the text the engine's 500 answer carries.
class EListError : public std::out_of_range {
 public:
  explicit EListError(std::size_t index)
      : std::out_of_range("List index out of bounds (" + std::to_string(index) + ")") {}
};

// "Не найдено"; fixed texts go to the window in UTF-8, as its own captions are.
constexpr const char* kNotFoundTrace = "\xD0\x9D\xD0\xB5 \xD0\xBD\xD0\xB0\xD0\xB9\xD0\xB4\xD0\xB5\xD0\xBD\xD0\xBE";

// A "/parserlink" answer that holds its room until the engine has sent it or its reader is gone.
using HeldAnswer = http::THoldingMemoryStream<SharedRoom::Held>;

const std::string& FirstParam(const http::TNetHTTPRequestInfo& request) {
  if (request.ParamList().empty()) throw EListError(0);
  return request.ParamList().front();
}

}  // namespace

MediaHandlerOptions PlatformMediaOptions() {
  MediaHandlerOptions o;
  o.separator = fs::kSeparator;
  o.pathStyle = fs::kSeparator == '\\' ? local::PathStyle::Windows : local::PathStyle::Posix;
  o.decimalSeparator = regional::DecimalSeparator();
  return o;
}

void MediaRequestHandler::Handle(http::TNetTCPServerConnection& connection, http::TNetHTTPRequestInfo& request,
                                 http::TNetHTTPResponseInfo& response) {
  const std::string& requestPath = request.RequestPath();
  // The last path looked up on the disk, and what was found: where it is the one taken, it is
  // not looked up again (a look-up is a system call, of two or three a small answer makes).
  std::string looked;
  bool lookedIsFile = false;
  const std::string path =
      local::RequestFilePath(requestPath, options_.pathStyle, [&](const std::string& p) {
        looked = p;
        return lookedIsFile = IsLocalFile(p);
      });
  const bool isFile = path == looked ? lookedIsFile : IsLocalFile(path);
  response.CustomHeaders().SetValue("Access-Control-Allow-Origin", "*");
  host_.ShowRequestPath(path);

  if (isFile) {
    StreamFile(connection, path, request, response);
  } else if (requestPath == "/parserlink") {
    AnswerParserLink(connection, request, response);
  } else if (requestPath == "/treeview") {
    AnswerTreeview(connection, request, response);
  } else if (requestPath == kTestPagePath) {
    AnswerTest(request, response);
  } else {
    // This request's own path, not a re-read of the caption another connection may have set.
    host_.ShowRequestPath("Not Found/" + path);
    AnswerNotFound(response);
  }
}

bool MediaRequestHandler::IsLocalFile(const std::string& path) const {
  return !path.empty() && local::StaysOnLocalDrives(path, options_.pathStyle) && fs::FileExists(path);
}

void MediaRequestHandler::StreamFile(http::TNetTCPServerConnection& connection, const std::string& path,
                                     http::TNetHTTPRequestInfo& request,
                                     http::TNetHTTPResponseInfo& response) {
  StreamOptions options;
  options.activity = streams_;
  StreamLocalFile(connection, path, request, response, options);
}

void MediaRequestHandler::AnswerTreeview(http::TNetTCPServerConnection& connection,
                                         http::TNetHTTPRequestInfo& request,
                                         http::TNetHTTPResponseInfo& response) {
  const std::string& query = FirstParam(request);
  const std::string address = host_.LocalAddress();
  std::string body;
  if (query == "/") {
    body = DrivePlaylist(local::ListDrives(), address);
  } else {
    const std::string folder = local::RequestFolderPath(query, options_.pathStyle);
    std::vector<std::string> items;
    if (local::StaysOnLocalDrives(folder, options_.pathStyle)) {
      items = local::ListFolder(folder, options_.separator);
    }
    const std::string& decimal = options_.decimalSeparator;
    const auto sizeLabel = [&decimal](const std::string& item) { return FileSizeText(item, decimal); };
    body = FolderPlaylist(items, address, options_.separator, sizeLabel,
                          [&connection] { return connection.Aborted(); });
  }
  response.SetResponseCode(200);
  response.SetBodyText(body);
}

void MediaRequestHandler::AnswerParserLink(http::TNetTCPServerConnection& connection,
                                           http::TNetHTTPRequestInfo& request,
                                           http::TNetHTTPResponseInfo& response) {
  const std::vector<std::string> pieces = SplitByChars(FirstParam(request), MakeCharSet("|"));
  const Abandoned abandoned = [&connection] { return connection.Aborted(); };
  response.SetResponseCode(200);
  std::unique_ptr<HeldAnswer> answer;
  {
    // The slot is held for the fetch and the cut only. Sending takes as long as the reader
    // wants (one that never reads keeps it until the engine's send-stall limit, one that reads
    // a little now and then longer still), and no time limit short enough for the slot wait
    // would let a slow TV take a whole page; so the answer moves to room of its own, taken
    // while the slot still counts it (waiting a bounded time for other answers to go out), and
    // the slot is free before the first byte is sent.
    const std::string& peer = request.RemoteAddress();
    const SharedRoom::Held slot =
        pageSlots_.Take(peer, 1, options_.pageLimits.slotWaitMs, abandoned);
    if (!slot) {  // every slot this peer may have stayed taken
      response.SetBodyText("err");
      return;
    }
    bool refused = false;
    std::string page = FetchPage(pieces[0], options_.pageLimits,
                                 SystemReachOf(peer, host_.LocalAddress()), abandoned, &refused);
    std::string result;
    if (refused) {
      result = "err";
    } else if (pieces[2].empty()) {
      result = std::move(page);
    } else {
      switch (CutBetween(std::move(page), pieces[1], pieces[2], &result)) {
        case CutOutcome::Found: break;
        case CutOutcome::NotFound: host_.ShowTrace(kNotFoundTrace); break;
        case CutOutcome::Failed: result = "err"; break;
      }
    }
    if (result.empty()) return;
    SharedRoom::Held room = answerRoom_.Take(peer, static_cast<std::int64_t>(result.size()),
                                             options_.answerRoomWaitMs, abandoned);
    if (!room) {  // answers to readers that take their time kept this peer's share full
      response.SetBodyText("err");
      return;
    }
    answer = std::make_unique<HeldAnswer>(std::move(result), std::move(room));
  }
  response.SetBodyStream(std::move(answer));
}

void MediaRequestHandler::AnswerTest(http::TNetHTTPRequestInfo& request,
                                     http::TNetHTTPResponseInfo& response) {
  // A TV's name, code and room take some tens of bytes; a "name" of megabytes (a form body can
  // be 16 MiB) would be copied into the menu, the window and every later upload's address.
  constexpr std::size_t kMaxAnnouncementBytes = 4096;
  const std::vector<std::string>& items = request.ParamList();
  const bool announced = items.size() > 1 || (items.size() == 1 && !items.front().empty());
  if (announced && items.front().size() <= kMaxAnnouncementBytes) {
    const std::string& device = items.front();
    const std::vector<std::string> pieces = SplitByChars(device, MakeCharSet("|"));
    // The TV's name comes in the system code page; the window shows UTF-8.
    host_.AnnounceDevice(device, text::AnsiToUtf8(pieces[2] + " (" + pieces[0] + ")"));
  }
  response.SetResponseCode(200);
  response.SetBodyText(kTestPage);
}

std::shared_ptr<http::TNetHTTPServer> CreateMediaServer(
    const std::string& address, int port, http::TNetCustomHTTPServer::TNetHTTPCommandEvent handler) {
  auto server = std::make_shared<http::TNetHTTPServer>();
  http::TNetSocketHandle& binding = server->Bindings().Add();
  binding.SetIP(address);
  binding.SetPort(port);
  server->SetListenQueue(kMediaListenQueue);
  server->SetThreadMgr(std::make_shared<http::TNetThreadMgrPool>());
  server->OnCommandGet = std::move(handler);
  return server;
}

}  // namespace tovi::server
