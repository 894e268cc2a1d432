#include "app/media_server_switch.h"

#include <algorithm>
#include <utility>

#include "dlna/device.h"
#include "dlna/folder_content.h"
#include "dlna/identity.h"
#include "dlna/media_types.h"
#include "dlna/ssdp_service.h"
#include "dlna/upnp_handler.h"
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

dlna::FolderContentOptions TreeOptions(const dlna::DeviceIdentity& device,
                                       server::StreamActivity* streams) {
  dlna::FolderContentOptions options = dlna::PlatformFolderContentOptions();
  options.rootTitle = device.friendlyName;
  options.streams = streams;
  return options;
}

bool IsEventMethod(const std::string& method) {
  return std::find(dlna::kEventMethods.begin(), dlna::kEventMethods.end(), method) !=
         dlna::kEventMethods.end();
}
}  // namespace

MediaServerSwitch::MediaServerSwitch(server::MediaWindow window, server::StreamActivity* streams,
                                     MediaServerFactory factory)
    : factory_(factory ? std::move(factory) : MediaServerFactory(server::CreateMediaServer)),
      host_(ServingAt(std::move(window), this)),
      mediaHandler_(std::make_unique<server::MediaRequestHandler>(
          host_, server::PlatformMediaOptions(), streams)),
      device_(dlna::ThisDeviceIdentity()),
      tree_(std::make_unique<dlna::FolderContent>(TreeOptions(device_, streams))),
      upnpHandler_(std::make_unique<dlna::UpnpRequestHandler>(
          dlna::DeviceFacts{device_.uuid, device_.friendlyName}, *tree_,
          dlna::ServedProtocolInfos())),
      discovery_(std::make_unique<dlna::SsdpService>()) {}

MediaServerSwitch::~MediaServerSwitch() {
  discovery_->Stop();  // the goodbye, before the server goes with the rest
}

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
  if (!on_ || switchOffStarted_) return;
  if (server_ && address == ServedAddress()) {
    // The adapter may have been made again with the address: discovery joins the new one.
    if (!discovery_->OnItsAdapter()) {
      announcedAddress_.clear();
      UpdateDiscovery();
    }
    return;
  }
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
                           Handle(thread.Connection(), request, response);
                         });
  server->SetExtraMethods(dlna::kEventMethods);
  server->SetActive(true);
  server_ = std::move(server);
  {
    std::lock_guard<std::mutex> lock(servedLock_);
    servedAddress_ = address;
  }
  UpdateDiscovery();
}

void MediaServerSwitch::Stop() {
  if (!server_) return;  // a move to another address found it taken
  discovery_->Stop();
  announcedAddress_.clear();
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

void MediaServerSwitch::SetShownToTvs(bool shown) {
  shownToTvs_ = shown;
  UpdateDiscovery();
}

bool MediaServerSwitch::Announcing() const { return discovery_->Running(); }

void MediaServerSwitch::UpdateDiscovery() {
  // At all addresses ("") there is no one adapter to announce on.
  const std::string address = server_ ? ServedAddress() : "";
  if (!shownToTvs_ || address.empty()) {
    discovery_->Stop();
    announcedAddress_.clear();
    return;
  }
  if (address == announcedAddress_ && discovery_->Running()) return;
  try {
    discovery_->Start(address, server::ServerBaseUrl(address) + dlna::UrlTarget(dlna::kDescriptionQuery),
                      device_);
    announcedAddress_ = address;
  } catch (const dlna::SsdpError&) {
    // Port 1900 cannot be had here, or the address is on no adapter: the app's side serves on,
    // and TVs that know the description's URL still reach it.
    announcedAddress_.clear();
  }
}

void MediaServerSwitch::Handle(http::TNetTCPServerConnection& connection, http::TNetHTTPRequestInfo& request,
                               http::TNetHTTPResponseInfo& response) {
  const bool forTvs = dlna::IsDlnaRequest(request.RequestPath(), request.QueryText());
  if (shownToTvs_ && forTvs) {
    upnpHandler_->Handle(connection, request, response);
  } else if (IsEventMethod(request.RequestMethod())) {
    // Only the media-server side takes subscriptions; the app's files never did.
    response.SetResponseCode(501);
    response.SetCloseAfterResponse(true);
  } else {
    mediaHandler_->Handle(connection, request, response);
  }
}

}  // namespace tovi::app
