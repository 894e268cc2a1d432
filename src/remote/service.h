// The list service's three exchanges as this program makes them: their URLs (built from the hosts
// of service_hosts.h; the inserted values percent-encoded only where a byte would break the
// request line or the query, the rest sent as it is), the transport they go through, and the
// decoding of the service's answers for display.
// Pure functions and plain types; safe from any thread. The real transport blocks its caller.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace tovi::remote {

// Shown instead of an upload or a sync while no TV has announced itself.
inline constexpr const char* kNoActiveDevices = "Нет активных устройств!";

// "http://HOST/remote/index.php?v=VERSION&do=list&localip=ADDRESS:8027", values encoded as above
std::string RegistrationUrl(const std::string& host, const std::string& version,
                            const std::string& address);
// "http://HOST/remote/index.php?do=uploadfile&fname=PATH&initial=DEVICE"
std::string UploadUrl(const std::string& host, const std::string& playlistPath,
                      const std::string& device);
// "http://HOST/remote/index.php?do=dhcpfile&fdir=FOLDER&initial=DEVICE&localip=ADDRESS:8027"
std::string FolderSyncUrl(const std::string& host, const std::string& folder,
                          const std::string& device, const std::string& address);

// How long one exchange may wait on the service, and how much of its answer is kept; the
// client's own defaults have no limit. Whoever answers for the service's name is a peer like
// any other: an answer that trickles or never ends stops at these.
struct ExchangeLimits {
  int connectTimeoutMs;         // to connect
  int readTimeoutMs;            // without a received byte (or a sent one); then "Read Timeout"
  int wholeTimeoutMs;           // the whole exchange; then "Read Timeout"
  std::int64_t maxAnswerBytes;  // then "Response body too large."
};
// The registration runs again every 3 s anyway, on the GUI thread: it must not freeze the menu.
// Its answer is dropped.
inline constexpr ExchangeLimits kRegistrationLimits{5000, 5000, 10000, 64 * 1024};
// The upload and the sync: the user waits for the service's answer, within reason; the answer
// is shown in a message.
inline constexpr ExchangeLimits kUploadLimits{10000, 30000, 120000, 1024 * 1024};

// How the exchanges reach the service. Both return the answer's body as received and throw the
// client's exceptions (connection failures, time-outs, statuses outside 2xx).
struct Transport {
  // One GET with the given User-Agent.
  std::function<std::string(const std::string& url, const std::string& userAgent)> get;
  // One POST of a multipart body holding the single field "text".
  std::function<std::string(const std::string& url, const std::string& text)> postText;
};

// The client engine, one fresh client (and body) per call, bounded by limits.
Transport HttpTransport(const ExchangeLimits& limits);

// The service answers in UTF-8, and users have always seen its answers through the system's
// code page: what the page lacks shows as "?". The result is a display text (UTF-8).
std::string AnswerForDisplay(const std::string& utf8Answer);

}  // namespace tovi::remote
