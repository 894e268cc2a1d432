#include "http/connection.h"

#include <algorithm>
#include <vector>

#include "http/exceptions.h"

namespace tovi::http {
namespace {

bool ClosesOnReceive(int code) {
  return code == net::kErrConnectionAborted || code == net::kErrShutdown;
}

// What EndConnection reads and drops at most before it closes: 64 reads of 4 KiB.
constexpr std::size_t kDropChunk = 4096;
constexpr int kDropReads = 64;

bool ClosesOnSend(int code) {
  return code == net::kErrConnectionAborted || code == net::kErrConnectionReset ||
         code == net::kErrShutdown || code == net::kErrTimedOut;
}

}  // namespace

TNetTCPConnection::TNetTCPConnection() { net::Startup(); }

TNetTCPConnection::~TNetTCPConnection() { CloseSocket(); }

void TNetTCPConnection::Attach(net::SocketHandle socket) {
  CloseSocket();
  {
    std::lock_guard<std::mutex> lock(socketLock_);
    socket_ = socket;
  }
  closedGracefully_ = false;
  aborted_ = false;
  peerClosed_ = false;
  closingAfterWrites_ = false;
  input_.clear();
}

net::Endpoint TNetTCPConnection::LocalEndpoint() const {
  net::Endpoint e;
  if (socket_ != net::kInvalidSocket) net::LocalEndpoint(socket_, &e);
  return e;
}

net::Endpoint TNetTCPConnection::PeerEndpoint() const {
  net::Endpoint e;
  if (socket_ != net::kInvalidSocket) net::PeerEndpoint(socket_, &e);
  return e;
}

void TNetTCPConnection::CloseSocket() {
  std::lock_guard<std::mutex> lock(socketLock_);
  if (socket_ != net::kInvalidSocket) {
    net::Close(socket_);
    socket_ = net::kInvalidSocket;
  }
}

bool TNetTCPConnection::Connected() {
  if (socket_ != net::kInvalidSocket && (peerClosed_ || aborted_) && input_.empty()) {
    closedGracefully_ = true;
    CloseSocket();
  }
  return socket_ != net::kInvalidSocket;
}

void TNetTCPConnection::EndConnection() {
  closedGracefully_ = true;
  std::lock_guard<std::mutex> lock(socketLock_);
  if (socket_ != net::kInvalidSocket) {
    net::ShutdownSend(socket_);
    DropUnread();
    net::Close(socket_);
    socket_ = net::kInvalidSocket;
  }
}

void TNetTCPConnection::DropUnread() {
  // Closing a socket with bytes unread makes the system reset the connection, and a reset
  // throws away what is still queued to send: the tail of a film whose player sent its next
  // request while the answer streamed. What has arrived is read and dropped (a bounded amount);
  // bytes that come after the close still reset it.
  char chunk[kDropChunk];
  for (int i = 0; i < kDropReads && net::RecvNow(socket_, chunk, sizeof chunk) > 0; ++i) {
  }
}

void TNetTCPConnection::Abort() {
  std::lock_guard<std::mutex> lock(socketLock_);
  closedGracefully_ = true;
  aborted_ = true;
  if (socket_ != net::kInvalidSocket) net::ShutdownBoth(socket_);
}

bool TNetTCPConnection::Stopping() {
  if (!aborted_ && abortSource_ && abortSource_()) {
    closedGracefully_ = true;
    aborted_ = true;
  }
  return aborted_;
}

void TNetTCPConnection::WaitForData() {
  // Waits in short slices so that Abort() is noticed even where shutting a socket down does
  // not wake a thread waiting on it.
  bool limited = readTimeoutMs_ > 0 || hasDeadline_;
  Clock::time_point until = Clock::time_point::max();
  if (readTimeoutMs_ > 0) until = Clock::now() + std::chrono::milliseconds(readTimeoutMs_);
  if (hasDeadline_ && deadline_ < until) until = deadline_;
  for (;;) {
    if (Stopping()) return;
    long long slice = net::kWakeCheckMs;
    if (limited) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
      if (left.count() <= 0) throw ENetReadTimeout();
      slice = std::min<long long>(left.count(), net::kWakeCheckMs);
    }
    int ready = net::WaitReadable(socket_, static_cast<int>(slice));
    if (ready < 0) RaiseLastSocketError();
    if (ready > 0) return;
  }
}

std::size_t TNetTCPConnection::ReadFromStack(bool raiseWhenClosed) {
  if (socket_ == net::kInvalidSocket || peerClosed_ || Stopping()) {
    if (raiseWhenClosed && input_.empty()) {
      if (closedGracefully_ || peerClosed_) throw ENetConnClosedGracefully();
      throw ENetClosedSocket();
    }
    return 0;
  }
  // What has arrived is taken at once; only a read that would block waits for readiness.
  for (;;) {
    if (hasDeadline_ && Clock::now() >= deadline_) throw ENetReadTimeout();
    const long n = ReceiveNow(raiseWhenClosed);
    if (n >= 0) return static_cast<std::size_t>(n);
    WaitForData();
  }
}

long TNetTCPConnection::ReceiveNow(bool raiseWhenClosed) {
  char chunk[kRecvChunk];
  long n = Stopping() ? 0 : net::RecvNow(socket_, chunk, sizeof chunk);
  if (n > 0) {
    input_.append(chunk, static_cast<std::size_t>(n));
    return n;
  }
  if (n < 0) {
    int code = net::LastError();
    if (code == net::kErrWouldBlock) return -1;
    if (!ClosesOnReceive(code) || input_.empty()) {
      if (ClosesOnReceive(code)) CloseSocket();
      throw ENetSocketError(code);
    }
    CloseSocket();
  }
  // The peer closed its sending side (or Abort() shut ours down).
  peerClosed_ = true;
  closedGracefully_ = true;
  if (raiseWhenClosed && input_.empty()) throw ENetConnClosedGracefully();
  return 0;
}

bool TNetTCPConnection::ReceiveArrived() {
  if (socket_ == net::kInvalidSocket || peerClosed_ || Stopping()) return false;
  if (hasDeadline_ && Clock::now() >= deadline_) return false;
  // -1: nothing yet, worth waiting for.
  return ReceiveNow(false) != 0;
}

std::string TNetTCPConnection::ReadLn() {
  const std::size_t maxLength = static_cast<std::size_t>(maxLineLength_);
  std::size_t searched = 0;
  for (;;) {
    std::size_t lf = input_.find('\n', searched);
    if (lf != std::string::npos) {
      if (lf > maxLength) throw ENetReadLnMaxLineLengthExceeded();
      std::size_t end = lf > 0 && input_[lf - 1] == '\r' ? lf - 1 : lf;
      std::string line = input_.substr(0, end);
      input_.erase(0, lf + 1);
      return line;
    }
    if (input_.size() > maxLength) throw ENetReadLnMaxLineLengthExceeded();
    searched = input_.size();
    if (ReadFromStack(true) == 0) {
      // Closed with an unterminated rest: it ends as if the line had been complete and empty.
      input_.clear();
      return {};
    }
  }
}

void TNetTCPConnection::ReadBytes(std::string& out, std::size_t count) {
  while (input_.size() < count) {
    if (ReadFromStack(false) == 0) throw ENetConnClosedGracefully();
  }
  out.append(input_, 0, count);
  input_.erase(0, count);
}

std::string TNetTCPConnection::ReadString(std::size_t count) {
  std::string out;
  ReadBytes(out, count);
  return out;
}

std::size_t TNetTCPConnection::ReadSome(std::string& out, std::size_t max) {
  if (input_.empty() && ReadFromStack(false) == 0) return 0;
  std::size_t n = std::min(max, input_.size());
  out.append(input_, 0, n);
  input_.erase(0, n);
  return n;
}

void TNetTCPConnection::ReadStream(TStream& stream, std::int64_t count) {
  std::string piece;
  std::int64_t left = count;
  while (count < 0 || left > 0) {
    piece.clear();
    std::size_t want = count < 0 || left > static_cast<std::int64_t>(kRecvChunk)
                           ? kRecvChunk
                           : static_cast<std::size_t>(left);
    std::size_t got = ReadSome(piece, want);
    if (got == 0) {
      if (count < 0) return;
      throw ENetConnClosedGracefully();
    }
    stream.Write(piece.data(), got);
    left -= static_cast<std::int64_t>(got);
  }
}

void TNetTCPConnection::CheckWritable() {
  if (Stopping()) throw ENetConnClosedGracefully();
  if (socket_ == net::kInvalidSocket) {
    if (closedGracefully_) throw ENetConnClosedGracefully();
    throw ENetNotConnected();
  }
}

void TNetTCPConnection::RaiseSendError(int code) {
  if (ClosesOnSend(code)) {
    closedGracefully_ = true;
    CloseSocket();
  }
  throw ENetSocketError(code);
}

void TNetTCPConnection::SendRaw(const char* data, std::size_t size) {
  // Sends in slices of waiting, so that Abort() is noticed on every platform and a peer that
  // takes nothing for the send time-out ends the connection.
  const auto stallLimit = std::chrono::milliseconds(sendTimeoutMs_);
  Clock::time_point stallEnd = Clock::now() + stallLimit;
  while (size > 0) {
    CheckWritable();
    int slice = net::kWakeCheckMs;
    // The deadline bounds a call wherever it is: a peer taking a long body a little at a time
    // never stalls long enough for the send time-out.
    if (hasDeadline_) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
      if (left <= 0) throw ENetReadTimeout();
      slice = static_cast<int>(std::min<long long>(slice, left));
    }
    if (sendTimeoutMs_ > 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(stallEnd - Clock::now()).count();
      if (left <= 0) RaiseSendError(net::kErrTimedOut);
      slice = std::min<int>(slice, static_cast<int>(left));
    }
    long n = net::SendWithin(socket_, data, size, slice, closingAfterWrites_);
    if (n < 0) RaiseSendError(net::LastError());
    if (n == 0) continue;
    data += n;
    size -= static_cast<std::size_t>(n);
    stallEnd = Clock::now() + stallLimit;
  }
}

void TNetTCPConnection::WriteBuffer(const void* data, std::size_t size) {
  if (size == 0) return;
  const char* bytes = static_cast<const char*>(data);
  if (writeBufferOpen_) {
    writeBuffer_.append(bytes, size);
    if (writeThreshold_ > 0 && writeBuffer_.size() >= static_cast<std::size_t>(writeThreshold_)) {
      FlushWriteBuffer();
    }
    return;
  }
  SendRaw(bytes, size);
}

void TNetTCPConnection::Write(std::string_view text) { WriteBuffer(text.data(), text.size()); }

void TNetTCPConnection::WriteLn(std::string_view text) {
  if (writeBufferOpen_) {
    Write(text);
    Write("\r\n");
    return;
  }
  std::string line(text);
  line += "\r\n";
  Write(line);
}

void TNetTCPConnection::WriteStream(TStream& stream, bool fromStart, bool countPrefix,
                                    std::int64_t size) {
  if (fromStart) stream.SetPosition(0);
  std::int64_t end = size == 0 ? stream.Size() : stream.Position() + size;
  if (countPrefix) {
    std::uint32_t n = static_cast<std::uint32_t>(end - stream.Position());
    unsigned char prefix[4] = {static_cast<unsigned char>(n >> 24),
                               static_cast<unsigned char>(n >> 16),
                               static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
    WriteBuffer(prefix, 4);
  }
  std::vector<char> buffer;
  for (;;) {
    std::int64_t left = end - stream.Position();
    std::int64_t want = std::min<std::int64_t>(left, static_cast<std::int64_t>(kSendChunk));
    if (want <= 0) return;
    if (buffer.empty()) buffer.resize(kSendChunk);
    std::size_t got = stream.Read(buffer.data(), static_cast<std::size_t>(want));
    if (got == 0) throw ENetNoDataToRead();
    WriteBuffer(buffer.data(), got);
  }
}

void TNetTCPConnection::WriteFileRange(std::intptr_t nativeFile, std::uint64_t offset,
                                       std::uint64_t count) {
  if (count == 0) return;
  FlushWriteBuffer();
  CheckWritable();
  long long sent = net::SendFile(socket_, nativeFile, offset, count, sendTimeoutMs_,
                                 [this] { return Stopping(); }, closingAfterWrites_);
  if (sent < 0 && aborted_) throw ENetConnClosedGracefully();
  if (sent < 0) RaiseSendError(net::LastError());
  if (static_cast<std::uint64_t>(sent) < count) throw ENetNoDataToRead();
}

void TNetTCPConnection::OpenWriteBuffer(int threshold) {
  // An answer's head fits: it is collected line by line, and a buffer that doubled its way up
  // cost four allocations per answer.
  constexpr std::size_t kStartingCapacity = 1024;
  writeBufferOpen_ = true;
  writeThreshold_ = threshold;
  writeBuffer_.reserve(kStartingCapacity);
}

void TNetTCPConnection::FlushWriteBuffer() {
  if (writeBuffer_.empty()) return;
  std::string pending;
  pending.swap(writeBuffer_);
  SendRaw(pending.data(), pending.size());
}

void TNetTCPConnection::CloseWriteBuffer() {
  if (!writeBufferOpen_) return;
  writeBufferOpen_ = false;
  FlushWriteBuffer();
}

void TNetTCPConnection::ClearWriteBuffer() { writeBuffer_.clear(); }

}  // namespace tovi::http
