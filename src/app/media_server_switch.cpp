#include "app/media_server_switch.h"

#include <algorithm>
#include <utility>

#include "http/exceptions.h"
#include "http/server/http_server.h"
#include "server/media_handler.h"
#include "server/media_port.h"

namespace tovi::app {

namespace {
server::MediaWindow ServingAt(server::MediaWindow window, const MediaServerSwitch* owner) {
  window.localAddress = [owner] { return owner->ServedAddress(); };
  return window;
}
}  // namespace

MediaServerSwitch::MediaServerSwitch(server::MediaWindow window, MediaServerFactory factory)
    : factory_(factory ? std::move(factory) : MediaServerFactory(server::CreateMediaServer)),
      host_(ServingAt(std::move(window), this)),
      mediaHandler_(std::make_unique<server::MediaRequestHandler>(host_)) {}

MediaServerSwitch::~MediaServerSwitch() = default;

void MediaServerSwitch::SwitchOn(const std::string& address) {
  Start(address);
  on_ = true;
}

void MediaServerSwitch::SwitchOff() {
  Stop();
  on_ = false;
}

void MediaServerSwitch::SwitchOffAtExit() {
  if (!on_) return;
  try {
    Stop();
  } catch (const http::ENetTerminateThreadTimeout&) {
    Stop();  // what still runs ends with the process
  }
  on_ = false;
}

void MediaServerSwitch::Follow(const std::string& address) {
  if (!on_ || switchOffStarted_ || (server_ && address == ServedAddress())) return;
  try {
    Stop();
  } catch (const http::ENetTerminateThreadTimeout&) {
    Stop();  // its connections hold it until they end; the new one starts now
  }
  try {
    Start(address);
  } catch (const std::exception&) {
    // The address went again before the server could listen there: the next call tries the
    // address of then; until then there is no server.
  }
}

void MediaServerSwitch::Start(const std::string& address) {
  auto server = factory_(address, server::kMediaPort,
                         [this](http::TNetPeerThread& thread, http::TNetHTTPRequestInfo& request,
                                http::TNetHTTPResponseInfo& response) {
                           Handle(thread, request, response);
                         });
  server->SetActive(true);
  server_ = std::move(server);
  std::lock_guard<std::mutex> lock(servedLock_);
  servedAddress_ = address;
}

void MediaServerSwitch::Stop() {
  if (!server_) return;  // a move to another address found it taken
  if (!switchOffStarted_) {
    switchOffStarted_ = true;
    server_->SetActive(false);
  }
  switchOffStarted_ = false;
  std::erase_if(freedServers_, [](const auto& freed) { return freed.expired(); });
  freedServers_.push_back(server_);
  server_.reset();
  std::lock_guard<std::mutex> lock(servedLock_);
  servedAddress_.clear();
}

std::string MediaServerSwitch::ServedAddress() const {
  std::lock_guard<std::mutex> lock(servedLock_);
  return servedAddress_;
}

bool MediaServerSwitch::ConnectionsRunning() const {
  return std::any_of(freedServers_.begin(), freedServers_.end(),
                     [](const auto& freed) { return !freed.expired(); });
}

void MediaServerSwitch::Handle(http::TNetPeerThread& thread, http::TNetHTTPRequestInfo& request,
                               http::TNetHTTPResponseInfo& response) {
  mediaHandler_->Handle(thread, request, response);
}

}  // namespace tovi::app
