#include "http/client/tcp_client.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>

#include "http/header_list.h"
#include "platform/socket.h"

namespace tovi::http {
namespace {

bool IsDottedAddress(const std::string& host, net::Endpoint* out) {
  int part = 0;
  int digits = 0;
  int value = 0;
  for (std::size_t i = 0; i <= host.size(); ++i) {
    if (i == host.size() || host[i] == '.') {
      if (digits == 0 || part > 3) return false;
      out->address[part++] = static_cast<std::uint8_t>(value);
      digits = 0;
      value = 0;
    } else if (host[i] >= '0' && host[i] <= '9' && digits < 3) {
      value = value * 10 + (host[i] - '0');
      if (value > 255) return false;
      ++digits;
    } else {
      return false;
    }
  }
  return part == 4;
}

}  // namespace

void TNetTCPClient::Connect() {
  // One limit for the lookup and the connect together, and never past the read deadline: a
  // name whose resolver does not answer ends with the call like any other wait.
  const int limitMs = connectTimeoutMs_ > 0 ? connectTimeoutMs_ : ReadTimeout();
  Clock::time_point until = Clock::time_point::max();
  if (limitMs > 0) until = Clock::now() + std::chrono::milliseconds(limitMs);
  if (HasReadDeadline()) until = std::min(until, ReadDeadline());
  // What is left of it, at least 1 ms (0 would mean no limit); 0 when there is none.
  const auto leftMs = [&until]() -> int {
    if (until == Clock::time_point::max()) return 0;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0) throw ENetConnectTimeout();
    return static_cast<int>(std::min<long long>(left, std::numeric_limits<int>::max()));
  };
  const auto stopping = [this] { return Stopping(); };

  net::Endpoint remote;
  if (SameText(host_, "LOCALHOST")) {
    remote.address[0] = 127;
    remote.address[3] = 1;
  } else if (!IsDottedAddress(host_, &remote)) {
    const int code = net::LookupIPv4(host_, &remote, leftMs(), stopping, LookupName);
    if (code == net::kErrTimedOut) throw ENetConnectTimeout();
    if (code != 0) throw ENetSocketError(code);
  }
  if (port_ < 0 || port_ > 65535) throw ENetSocketError(net::kErrAddressNotAvailable);
  remote.port = static_cast<std::uint16_t>(port_);
  if (OnCheckEndpoint && !OnCheckEndpoint(remote)) throw ENetConnectionNotAllowed();
  const int connectMs = leftMs();
  net::SocketHandle s = net::OpenStream();
  if (s == net::kInvalidSocket) RaiseLastSocketError();
  if (net::Connect(s, remote, connectMs, stopping) != 0) {
    const int code = net::LastError();
    net::Close(s);
    if (code == net::kErrTimedOut && connectMs > 0) throw ENetConnectTimeout();
    throw ENetSocketError(code);
  }
  Attach(s);
}

}  // namespace tovi::http
