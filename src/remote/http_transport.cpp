#include <chrono>

#include "http/client/http_client.h"
#include "remote/service.h"

namespace tovi::remote {

namespace {

void Bound(http::TNetHTTP& client, const ExchangeLimits& limits) {
  client.SetConnectTimeout(limits.connectTimeoutMs);
  client.SetReadTimeout(limits.readTimeoutMs);
  client.SetSendTimeout(limits.readTimeoutMs);
  client.SetReadDeadline(http::TNetHTTP::Clock::now() +
                         std::chrono::milliseconds(limits.wholeTimeoutMs));
  client.SetMaxBodyLength(limits.maxAnswerBytes);
}

}  // namespace

Transport HttpTransport(const ExchangeLimits& limits) {
  Transport transport;
  transport.get = [limits](const std::string& url, const std::string& userAgent) {
    http::TNetHTTP client;
    Bound(client, limits);
    client.Request().SetUserAgent(userAgent);
    return client.Get(url);
  };
  transport.postText = [limits](const std::string& url, const std::string& text) {
    http::TNetHTTP client;
    Bound(client, limits);
    http::TNetMultiPartFormDataStream form;
    form.AddTextField("text", text);
    return client.Post(url, form);
  };
  return transport;
}

}  // namespace tovi::remote
