// A content tree for the control side's tests: three children under "0", whose DIDL names the
// request it answers, so a test sees what reached the source; "big", an answer of kBigBytes that
// holds something until it has been sent (Holding); any other id is NoSuchObject.
#pragma once
#include <atomic>
#include <memory>
#include <string>

#include "dlna/content_source.h"
#include "dlna/upnp_error.h"

namespace tovi::dlna::test {

class FakeContent : public ContentSource {
 public:
  static constexpr std::uint32_t kUpdateId = 7;
  static constexpr std::uint32_t kChildren = 3;

  static constexpr std::size_t kBigBytes = 8u << 20;

  BrowseResult Browse(const BrowseRequest& r, const std::string& baseUrl) override {
    if (r.objectId == "big") {
      BrowseResult big{std::string(kBigBytes, 'x'), 1, 1};
      holding_ = true;
      big.keepWhileSent = std::shared_ptr<void>(&holding_, [](void* held) {
        *static_cast<std::atomic<bool>*>(held) = false;
      });
      return big;
    }
    if (r.objectId != "0" && r.objectId != "a&b <\xD0\x90>") throw NoSuchObject();
    BrowseResult out;
    out.total = r.metadata ? 1 : kChildren;
    const std::uint32_t left = r.start < out.total ? out.total - r.start : 0;
    out.returned = r.count == 0 || r.count > left ? left : r.count;
    out.didl = "<DIDL-Lite id=\"" + r.objectId + "\" meta=\"" + (r.metadata ? "1" : "0") +
               "\" start=\"" + std::to_string(r.start) + "\" count=\"" +
               std::to_string(r.count) + "\" base=\"" + baseUrl + "\"/>";
    return out;
  }
  // Answers as a Browse of the container's children.
  BrowseResult Search(const SearchRequest& r, const std::string& baseUrl) override {
    return Browse(r, baseUrl);
  }
  std::uint32_t SystemUpdateId() override { return kUpdateId; }
  void StreamResource(http::TNetTCPServerConnection&, http::TNetHTTPRequestInfo& request,
                      http::TNetHTTPResponseInfo& response, const Player& player) override {
    response.SetBodyText("resource " + request.QueryText() + " for " + player.family);
  }
  bool Holding() const { return holding_; }

 private:
  std::atomic<bool> holding_{false};
};

}  // namespace tovi::dlna::test
