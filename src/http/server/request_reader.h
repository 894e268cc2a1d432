// TNetRequestReader: reads one request off its connection for the request loop, within the
// server's limits (TNetServerLimits): the request line and header lines within TNetHeadBounds
// and the head's deadline, a POST body within the body's size and time limits and the server's
// TNetBodyBudget. With a thread manager that lets connections wait idle it also waits for a
// head, or a POST body of known length, that has not all come, without holding a thread: it
// takes what has arrived, keeps how far it got in the connection's TNetRequestProgress and asks
// the connection to wait idle (TNetPeerThread::WaitIdle); the next turn goes on from there.
// Errors: a head or body past a bound raises ENetHTTPRequestHeadTooLarge or
// ENetHTTPRequestBodyTooLarge, a line past its length ENetReadLnMaxLineLengthExceeded, a passed
// deadline ENetReadTimeout; the peer's close or a reset raise the connection's exceptions.
// Thread safety: made for one turn of one connection and used on its thread; the budget is
// shared by all connections and safe from any thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "http/server/http_request.h"
#include "http/server/request_scan.h"
#include "http/server/tcp_server.h"

namespace tovi::http {

class TNetRequestReader {
 public:
  // readsHeaderLines(parts): whether header lines follow a request line of these parts (one the
  // loop answers); for any other line only the line is read.
  TNetRequestReader(const TNetServerLimits& limits, const std::shared_ptr<TNetBodyBudget>& budget,
                    TNetHeadScan::ReadsHeaderLines readsHeaderLines)
      : limits_(limits), budget_(budget), readsHeaderLines_(std::move(readsHeaderLines)) {}

  // Starts a new request's head deadline, unless a head waited for without a thread keeps the
  // one it began with.
  void BeginRequest(TNetTCPServerConnection& conn) const;
  // True when the connection now waits idle for the rest of the head or the POST body: the loop
  // then returns at once. False (always, without a pool) when reading goes on in this turn.
  bool WaitIdleForRequest(TNetPeerThread& thread) const;
  // The request line and its parts (split once: by the scan, when it looked), empty lines
  // before it passed over within the head's bounds; false when the line has no space.
  bool ReadRequestLine(TNetTCPServerConnection& conn, std::string& line,
                       TNetRequestLine& parts) const;
  // The header lines into the record, then its header fields; headBytes: the request line's.
  void ReadHead(TNetTCPServerConnection& conn, TNetHTTPRequestInfo& request,
                std::size_t headBytes) const;
  // The body into `supplied` (the handler's stream), or into a text the record keeps as FormText.
  void ReadBody(TNetTCPServerConnection& conn, TNetHTTPRequestInfo& request,
                std::unique_ptr<TStream> supplied) const;
  // After a request (answered or failed): gives back what reading it held.
  static void EndRequest(TNetTCPServerConnection& conn);

 private:
  // The bounds of a request head, the same whether it is scanned waiting or read line by line.
  TNetHeadBounds HeadBounds(const TNetTCPServerConnection& conn) const;
  // Looks for the end of the head in what came since the last look (see TNetHeadScan).
  TNetHeadScan::State ScanHead(TNetTCPServerConnection& conn) const;
  bool WaitIdleForBody(TNetPeerThread& thread) const;
  void ReadBodyBytes(TNetTCPServerConnection& conn, const TNetHTTPRequestInfo& request,
                     std::int64_t length, TStream& stream) const;
  // A chunked POST (a control point that streams its SOAP action): its chunks, within the bounds
  // of a counted body; what follows the last chunk (trailer lines) up to the empty line is dropped.
  void ReadChunkedBody(TNetTCPServerConnection& conn, const TNetHTTPRequestInfo& request,
                       TStream& stream) const;
  // A POST without a length: until the peer closes its side.
  void ReadBodyToClose(TNetTCPServerConnection& conn, const TNetHTTPRequestInfo& request,
                       TStream& stream) const;
  // The next line of the request: from the head the scan found complete, else off the input.
  static std::string NextHeadLine(TNetTCPServerConnection& conn);

  const TNetServerLimits& limits_;
  const std::shared_ptr<TNetBodyBudget>& budget_;  // the server's, made at its activation
  TNetHeadScan::ReadsHeaderLines readsHeaderLines_;
};

}  // namespace tovi::http
