// TNetTCPClient: the client's side of a TCP connection, the connect with its name lookup.
// Bounds: the lookup and the connect together take at most ConnectTimeout ms (else ReadTimeout
// ms) when positive, and never past the read deadline; an abort source ends either wait.
// Thread safety: an object belongs to the thread that uses it.
#pragma once
#include <functional>
#include <string>

#include "http/connection.h"
#include "http/exceptions.h"
#include "platform/name_lookup.h"

namespace tovi::http {

// A connect that the client's OnCheckEndpoint refused.
class ENetConnectionNotAllowed : public ENetException {
 public:
  ENetConnectionNotAllowed() : ENetException("Connection not allowed.") {}
};

class TNetTCPClient : public TNetTCPConnection {
 public:
  const std::string& Host() const { return host_; }
  void SetHost(const std::string& host) { host_ = host; }
  int Port() const { return port_; }
  void SetPort(int port) { port_ = port; }
  // ms a connect may take; 0: ReadTimeout's value limits it.
  int ConnectTimeout() const { return connectTimeoutMs_; }
  void SetConnectTimeout(int timeoutMs) { connectTimeoutMs_ = timeoutMs; }
  // "LOCALHOST" (any case) is 127.0.0.1, a dotted address is used as it is, any other name is
  // looked up. Raises ENetSocketError (code 10004 when the abort source ended the wait, 10055
  // when net::kMaxPendingLookups lookups are running), or ENetConnectTimeout when the limit of
  // the lookup and connect, or the read deadline, ran out.
  void Connect();

  // When set, asked with the very address a connect goes to, after any name lookup (so a name
  // cannot answer one way here and another way at the connect); false refuses the connect
  // with ENetConnectionNotAllowed before a socket is opened.
  std::function<bool(const net::Endpoint& remote)> OnCheckEndpoint;
  // The name lookup a connect waits for (within the connect's limit); empty: the system's.
  net::NameLookup LookupName;

 private:
  std::string host_;
  int port_ = 80;
  int connectTimeoutMs_ = 0;
};

}  // namespace tovi::http
