// TNetTCPConnection: one buffered TCP connection as both HTTP engines use it. Reads go through
// an input buffer (32768 bytes asked per receive), lines end at LF, writes can be collected in a
// write buffer. Failures raise the ENet* exceptions of http/exceptions.h.
// Thread safety: a connection is used by one thread; only Abort() and Aborted() may be called
// from another thread at any time (Abort wakes a blocked read or write within
// net::kWakeCheckMs, which then fails).
#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "http/stream.h"
#include "platform/socket.h"

namespace tovi::http {

inline constexpr std::size_t kRecvChunk = 32768;
inline constexpr std::size_t kSendChunk = 32768;
inline constexpr int kDefaultMaxLineLength = 16384;

class TNetTCPConnection {
 public:
  using Clock = std::chrono::steady_clock;

  TNetTCPConnection();
  virtual ~TNetTCPConnection();  // closes the socket if still open
  TNetTCPConnection(const TNetTCPConnection&) = delete;
  TNetTCPConnection& operator=(const TNetTCPConnection&) = delete;

  // Takes ownership of a connected socket; clears the input buffer and the closed state.
  void Attach(net::SocketHandle socket);
  net::SocketHandle Socket() const { return socket_; }
  // The endpoints of the attached socket (zeros when none or unknown).
  net::Endpoint LocalEndpoint() const;
  net::Endpoint PeerEndpoint() const;

  // True while a socket is allocated; a peer that has closed and left nothing unread makes it
  // close the socket first and answer false.
  bool Connected();
  // Marks the connection closed-gracefully, shuts down sending and closes the socket, after
  // dropping what the peer sent that was not read (up to 256 KiB), so that the close does not
  // reset the connection and lose what is still queued to send. Again on a closed connection:
  // nothing more.
  void EndConnection();
  void Disconnect() { EndConnection(); }
  // Set when a receive returned 0 bytes or the connection closed its own socket.
  bool ClosedGracefully() const { return closedGracefully_.load(); }
  // From any thread: wakes a blocked read (it then finds the connection closed) and makes later
  // writes fail; the owning thread still closes the socket.
  void Abort();
  bool Aborted() const { return aborted_.load(); }
  // A second reason to give up, asked wherever this connection waits (connect, reads, sends) and
  // then handled as an Abort(): a request served on one connection that opens another for its
  // answer passes the first one's Aborted(), so a switch-off ends both.
  void SetAbortSource(std::function<bool()> aborted) { abortSource_ = std::move(aborted); }

  // Read limits. ReadTimeout: ms one wait for data may take, 0 = none. ReadDeadline: a point in
  // time after which every read, and every send from memory, fails. Either raises
  // ENetReadTimeout.
  int ReadTimeout() const { return readTimeoutMs_; }
  void SetReadTimeout(int timeoutMs) { readTimeoutMs_ = timeoutMs; }
  void SetReadDeadline(Clock::time_point deadline) { deadline_ = deadline; hasDeadline_ = true; }
  void ClearReadDeadline() { hasDeadline_ = false; }
  bool HasReadDeadline() const { return hasDeadline_; }
  Clock::time_point ReadDeadline() const { return deadline_; }
  int MaxLineLength() const { return maxLineLength_; }
  void SetMaxLineLength(int length) { maxLineLength_ = length; }

  // Reads a line ending at LF (a CR before it is dropped). More than MaxLineLength bytes
  // before the LF raises ENetReadLnMaxLineLengthExceeded. A close with an unterminated rest
  // buffered yields "" (the rest is dropped); with nothing buffered, ENetConnClosedGracefully.
  std::string ReadLn();
  // Exactly count bytes, appended to out; ENetConnClosedGracefully when the peer closes first.
  void ReadBytes(std::string& out, std::size_t count);
  std::string ReadString(std::size_t count);
  // Appends buffered bytes or else one receive, up to max; 0 once the peer has closed.
  std::size_t ReadSome(std::string& out, std::size_t max);
  // count >= 0: exactly count bytes into the stream (ENetConnClosedGracefully when the peer
  // closes first); count < 0: until the peer closes.
  void ReadStream(TStream& stream, std::int64_t count);
  // Receives once into the input buffer; returns the bytes added, 0 when the peer has closed.
  // With raiseWhenClosed, a closed connection with an empty buffer raises instead.
  std::size_t ReadFromStack(bool raiseWhenClosed = true);
  // Receives once what has already arrived, never waiting. True while waiting for more makes
  // sense; false once the peer has closed, the connection was aborted or closed, or the read
  // deadline has passed (a read then reports it). Socket failures raise as reads do.
  bool ReceiveArrived();
  std::string& InputBuffer() { return input_; }

  // Writes; an empty text sends nothing. With a write buffer open the bytes are collected.
  void Write(std::string_view text);
  void WriteLn(std::string_view text = {});
  void WriteBuffer(const void* data, std::size_t size);
  // From-start: rewind first. size 0: to the stream's end, else size bytes. Count prefix: the
  // byte count first as 4 bytes in network order. A stream that ends early: ENetNoDataToRead.
  void WriteStream(TStream& stream, bool fromStart = true, bool countPrefix = false,
                   std::int64_t size = 0);
  // count bytes of an open file (fd / HANDLE) from offset, straight from the file to the socket.
  // A file that ends early raises ENetNoDataToRead after the bytes it had. After
  // SetClosingAfterWrites, its last partial segment may wait for EndConnection's FIN.
  void WriteFileRange(std::intptr_t nativeFile, std::uint64_t offset, std::uint64_t count);

  // threshold <= 0: collect until CloseWriteBuffer; else send whenever it holds that many.
  void OpenWriteBuffer(int threshold = -1);
  // Sends what was collected and discards the buffer; nothing happens when none is open.
  void CloseWriteBuffer();
  void FlushWriteBuffer();
  void ClearWriteBuffer();
  bool WriteBufferOpen() const { return writeBufferOpen_; }

  // How long a write may make no progress before the connection fails with kErrTimedOut (0: no
  // limit); kept across Attach.
  void SetSendTimeout(int timeoutMs) { sendTimeoutMs_ = timeoutMs; }
  // The connection ends right after the writes that follow (the last response on it): their
  // partial last segment may wait for EndConnection and leave with its FIN, one packet for the
  // peer instead of two. Only for writes that are followed by EndConnection, never by a wait
  // for the peer. Cleared by Attach.
  void SetClosingAfterWrites() { closingAfterWrites_ = true; }

 protected:
  // Whether Abort() was called or the abort source says so (which then counts as an Abort()).
  bool Stopping();

  // Closes the socket without the graceful send shutdown (after a failure).
  void CloseSocket();

 private:
  // One receive of what has arrived into the input buffer, as ReadFromStack; -1 when nothing
  // has arrived yet.
  long ReceiveNow(bool raiseWhenClosed);
  void SendRaw(const char* data, std::size_t size);
  [[noreturn]] void RaiseSendError(int code);
  void CheckWritable();
  void WaitForData();
  void DropUnread();  // under socketLock_

  net::SocketHandle socket_ = net::kInvalidSocket;
  mutable std::mutex socketLock_;  // socket_ changes and Abort()
  std::atomic<bool> closedGracefully_{false};
  std::atomic<bool> aborted_{false};
  bool peerClosed_ = false;  // a receive returned 0
  std::string input_;
  std::string writeBuffer_;
  bool writeBufferOpen_ = false;
  int writeThreshold_ = -1;
  std::function<bool()> abortSource_;
  int readTimeoutMs_ = 0;
  int sendTimeoutMs_ = 0;
  bool closingAfterWrites_ = false;
  int maxLineLength_ = kDefaultMaxLineLength;
  bool hasDeadline_ = false;
  Clock::time_point deadline_{};
};

}  // namespace tovi::http
