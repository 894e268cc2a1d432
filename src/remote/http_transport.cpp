#include "http/client/http_client.h"
#include "remote/service.h"

namespace tovi::remote {

Transport HttpTransport() {
  Transport transport;
  transport.get = [](const std::string& url, const std::string& userAgent) {
    http::TNetHTTP client;
    client.Request().SetUserAgent(userAgent);
    return client.Get(url);
  };
  transport.postText = [](const std::string& url, const std::string& text) {
    http::TNetHTTP client;
    http::TNetMultiPartFormDataStream form;
    form.AddTextField("text", text);
    return client.Post(url, form);
  };
  return transport;
}

}  // namespace tovi::remote
