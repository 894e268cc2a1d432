#include "http/server/http_server.h"

#include <algorithm>

#include "http/exceptions.h"
#include "http/keep_alive.h"
#include "http/server/request_reader.h"

namespace tovi::http {

TNetCustomHTTPServer::TNetCustomHTTPServer() = default;

std::int64_t TNetCustomHTTPServer::BodyBytesHeld() const {
  return bodyBudget_ ? bodyBudget_->Held() : 0;
}

void TNetCustomHTTPServer::BeforeActivate() {
  bodyBudget_ = std::make_shared<TNetBodyBudget>(Limits().maxBodyBytesHeld,
                                                 Limits().maxBodyBytesHeldPerPeer);
}

bool TNetCustomHTTPServer::Answers(const std::string& method) const {
  if (!OnCommandGet) return false;
  return method == "GET" || method == "POST" || method == "HEAD" ||
         std::find(extraMethods_.begin(), extraMethods_.end(), method) != extraMethods_.end();
}

std::unique_ptr<TStream> TNetCustomHTTPServer::PostStream(TNetPeerThread& thread) {
  std::unique_ptr<TStream> stream;
  if (OnCreatePostStream) OnCreatePostStream(thread, stream);
  return stream;
}

bool TNetCustomHTTPServer::CallHandler(TNetPeerThread& thread, TNetHTTPRequestInfo& request,
                                       TNetHTTPResponseInfo& response) {
  try {
    OnCommandGet(thread, request, response);
  } catch (const std::exception& e) {
    // Once the status and the length are on the wire, any text now would be taken for body
    // bytes (a player would play the message as media): the peer gets a short body instead.
    if (response.HeadersSent()) return false;
    response.SetResponseCode(500);
    response.SetBodyText(e.what());
  }
  return true;
}

bool TNetCustomHTTPServer::Answer(TNetPeerThread& thread, TNetHTTPRequestInfo& request,
                                  bool mayKeep) {
  TNetHTTPResponseInfo response(thread.Connection());
  // A handler may keep the connection against the server's KeepAlive, never against the
  // request: also not in a head it sends itself.
  response.requestMayKeep_ = mayKeep;
  response.SetCloseAfterResponse(!keepConnectionsOpen_);
  response.headRequest_ = request.RequestMethod() == "HEAD";
  if (!Trim(serverSoftware_).empty()) response.SetServerSoftware(serverSoftware_);
  if (!CallHandler(thread, request, response)) return true;
  response.Finish();
  return response.CloseAfterResponse();
}

bool TNetCustomHTTPServer::ServeRequest(TNetPeerThread& thread, const TNetRequestReader& reader,
                                        const std::string& line, const TNetRequestLine& parts) {
  TNetTCPServerConnection& conn = thread.Connection();
  if (!Answers(parts.method)) {
    conn.ClearReadDeadline();
    if (OnCommandOther) OnCommandOther(thread, parts.method, parts.target, parts.version);
    return !keepConnectionsOpen_;
  }
  TNetHTTPRequestInfo request;
  request.SetRequestLine(line, parts, conn.Binding().PeerIP());
  reader.ReadHead(conn, request, line.size() + 2);
  // Only POST bodies are used. Another request's body is left unread, and its connection closed
  // after the answer: what follows its head cannot be told from a next request.
  const bool post = parts.method == "POST";
  const bool bodyLeft =
      !post &&
      (request.ContentLength() > 0 || !request.HeaderLines().Values("Transfer-Encoding").empty());
  if (post) reader.ReadBody(conn, request, PostStream(thread));
  request.ApplyTarget(parts.target, parseParams_);
  request.ApplyAuthorization();
  return Answer(thread, request,
                !bodyLeft && KeepsConnectionOpen(request.HttpVersion(), request.Connection()));
}

bool TNetCustomHTTPServer::DoExecute(TNetPeerThread& thread) {
  TNetTCPServerConnection& conn = thread.Connection();
  const TNetRequestReader reader(Limits(), bodyBudget_, [this](const TNetRequestLine& parts) {
    return Answers(parts.method);
  });
  try {
    for (;;) {
      reader.BeginRequest(conn);
      if (reader.WaitIdleForRequest(thread)) return true;
      std::string line;
      TNetRequestLine parts;
      if (!reader.ReadRequestLine(conn, line, parts)) throw ENetHTTPErrorParsingCommand();
      const bool closeAfter = ServeRequest(thread, reader, line, parts);
      TNetRequestReader::EndRequest(conn);
      // A handler that closed the connection itself ends it as a close would.
      if (closeAfter || !conn.Connected()) break;
    }
    conn.EndConnection();
  } catch (const ENetSocketError& e) {
    conn.EndConnection();
    TNetRequestReader::EndRequest(conn);
    if (e.LastError() == net::kErrConnectionReset) return true;
    throw;
  } catch (const ENetClosedSocket&) {
    conn.EndConnection();
    TNetRequestReader::EndRequest(conn);
    return true;
  } catch (...) {
    conn.EndConnection();
    TNetRequestReader::EndRequest(conn);
    throw;
  }
  return true;
}

TNetHTTPServer::TNetHTTPServer() { SetDefaultPort(80); }

}  // namespace tovi::http
