// The media server's engine on 127.0.0.1 and a free port, handing every request to a test's
// handler: set up before it switches on, switched off when it goes. Headers only, for suites that
// link the server library.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "server/media_handler.h"

namespace tovi::testing {

class LoopbackEngine {
 public:
  using Setup = std::function<void(http::TNetHTTPServer&)>;
  explicit LoopbackEngine(http::TNetCustomHTTPServer::TNetHTTPCommandEvent handler,
                          const Setup& setup = {})
      : engine_(server::CreateMediaServer("127.0.0.1", 0, std::move(handler))) {
    if (setup) setup(*engine_);
    engine_->SetActive(true);
  }
  ~LoopbackEngine() {
    try {
      engine_->SetActive(false);
    } catch (...) {
      // A switch-off that timed out is what the test checked, or not its business.
    }
  }
  LoopbackEngine(const LoopbackEngine&) = delete;
  LoopbackEngine& operator=(const LoopbackEngine&) = delete;

  std::uint16_t Port() const { return static_cast<std::uint16_t>(engine_->Bindings()[0].Port()); }
  http::TNetHTTPServer& Engine() { return *engine_; }

 private:
  std::shared_ptr<http::TNetHTTPServer> engine_;
};

}  // namespace tovi::testing
