// The exceptions of both HTTP engines. Every class derives from ENetException and carries a
// fixed English message; the texts are part of what users see and must not change.
// Thread safety: plain values, copyable.
#pragma once
#include <stdexcept>
#include <string>

namespace tovi::http {

class ENetException : public std::runtime_error {
 public:
  explicit ENetException(const std::string& message) : std::runtime_error(message) {}
};

// A failing socket call: "Socket Error # <code>" CR LF <text of the Windows Sockets code>.
class ENetSocketError : public ENetException {
 public:
  explicit ENetSocketError(int code);
  ENetSocketError(int code, const std::string& message)
      : ENetException(message), lastError_(code) {}
  int LastError() const { return lastError_; }

  // The description of a Windows Sockets code; empty for codes without one.
  static std::string DescriptionOf(int code);

 private:
  int lastError_;
};

// Raises ENetSocketError for the calling thread's last socket error.
[[noreturn]] void RaiseLastSocketError();

#define TOVI_NET_EXCEPTION(Name, Base, Text)                 \
  class Name : public Base {                                 \
   public:                                                   \
    Name() : Base(Text) {}                                   \
    explicit Name(const std::string& message) : Base(message) {} \
  };

TOVI_NET_EXCEPTION(ENetConnClosedGracefully, ENetException, "Connection Closed Gracefully.")
TOVI_NET_EXCEPTION(ENetClosedSocket, ENetException, "Disconnected.")
TOVI_NET_EXCEPTION(ENetNotConnected, ENetException, "Not Connected")
TOVI_NET_EXCEPTION(ENetReadTimeout, ENetException, "Read Timeout")
TOVI_NET_EXCEPTION(ENetConnectTimeout, ENetException, "Connect timed out.")
TOVI_NET_EXCEPTION(ENetReadLnMaxLineLengthExceeded, ENetException, "Max line length exceeded.")
TOVI_NET_EXCEPTION(ENetNoDataToRead, ENetException, "No data to read.")
TOVI_NET_EXCEPTION(ENetWinsockInitError, ENetException, "Winsock Initialization Error.")
TOVI_NET_EXCEPTION(ENetInvalidSocket, ENetException, "Cannot allocate socket.")
TOVI_NET_EXCEPTION(ENetCouldNotBindSocket, ENetException,
                   "Could not bind socket. Address and port are already in use.")
TOVI_NET_EXCEPTION(ENetTerminateThreadTimeout, ENetException, "Terminate Thread Timeout")
TOVI_NET_EXCEPTION(ENetNoExecuteSpecified, ENetException, "No execute handler found.")
TOVI_NET_EXCEPTION(ENetTCPServerError, ENetException, "Connection has no socket handler.")
TOVI_NET_EXCEPTION(ENetIOHandlerPropInvalid, ENetException, "IOHandler value is not valid")
TOVI_NET_EXCEPTION(ENetUnknownProtocol, ENetException, "")
TOVI_NET_EXCEPTION(ENetHTTPErrorParsingCommand, ENetException, "Error in parsing command.")
TOVI_NET_EXCEPTION(ENetHTTPUnsupportedAuthorisationScheme, ENetException,
                   "Unsupported authorization scheme.")
TOVI_NET_EXCEPTION(ENetHTTPHeaderAlreadyWritten, ENetException, "Header has already been written.")
// Limits that keep one client from taking the server down; the connection closes unanswered.
TOVI_NET_EXCEPTION(ENetHTTPRequestHeadTooLarge, ENetException, "Request head too large.")
TOVI_NET_EXCEPTION(ENetHTTPRequestBodyTooLarge, ENetException, "Request body too large.")

#undef TOVI_NET_EXCEPTION

// A reply of the peer that is an error; the message is the reply's status line.
class ENetProtocolReplyError : public ENetException {
 public:
  ENetProtocolReplyError(int errorCode, const std::string& message)
      : ENetException(message), errorCode_(errorCode) {}
  int ErrorCode() const { return errorCode_; }

 private:
  int errorCode_;
};

class ENetHTTPProtocolException : public ENetProtocolReplyError {
 public:
  ENetHTTPProtocolException(int errorCode, const std::string& message, std::string errorBody)
      : ENetProtocolReplyError(errorCode, message), errorBody_(std::move(errorBody)) {}
  const std::string& ErrorBody() const { return errorBody_; }

 private:
  std::string errorBody_;
};

}  // namespace tovi::http
