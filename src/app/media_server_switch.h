// The media server switch: owns the media server (its creation at an address, its request
// handler, its switch-off with the engine's time limit) and whether the PC is shown to TVs' own
// players (the media-server side, beside the app's protocol). The form asks it to switch on, off
// or move, and shows what it then is. It lives in app/, not in server/, because it also holds
// the dlna/ side, which sits above server/.
// While the server listens and the PC is shown to TVs, discovery announces it on the adapter of
// the served address (and says goodbye when it stops, moves or is hidden), and requests for the
// media-server side's URLs ("/?dlna/...", SUBSCRIBE, UNSUBSCRIBE) go to its handler; every other
// request goes to the app's media handler as before. Discovery that cannot start (port 1900 not
// to be had, an address on no adapter) leaves the server on without it.
// A switch-off that times out ("Terminate Thread Timeout") leaves the server on and in place;
// the next SwitchOff or Follow then frees it without waiting again. A freed server's connection
// threads still call this switch's handler (and through it the window's callbacks) until they
// end: while ConnectionsRunning(), the switch and the window must stay.
// Thread safety: every call on the GUI thread, except ServedAddress() and ShownToTvs(), which
// connection threads may call; the handler runs on connection threads.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dlna/identity.h"
#include "server/stream_activity.h"
#include "server/window_host.h"

namespace tovi::http {
class TNetHTTPServer;
class TNetPeerThread;
class TNetTCPServerConnection;
class TNetHTTPRequestInfo;
class TNetHTTPResponseInfo;
}  // namespace tovi::http

namespace tovi::server {
class MediaRequestHandler;
}  // namespace tovi::server

namespace tovi::dlna {
class FolderContent;
class SsdpService;
class UpnpRequestHandler;
}  // namespace tovi::dlna

namespace tovi::app {

using MediaRequestEvent = std::function<void(
    http::TNetPeerThread&, http::TNetHTTPRequestInfo&, http::TNetHTTPResponseInfo&)>;
// Builds an inactive server listening at address:port ("" = all addresses) that calls handler
// for each request; throws as the engine does. The program's is server::CreateMediaServer.
using MediaServerFactory = std::function<std::shared_ptr<http::TNetHTTPServer>(
    const std::string& address, int port, MediaRequestEvent handler)>;

class MediaServerSwitch {
 public:
  // window: where requests show (its localAddress is replaced: the playlists' links name
  // where this switch listens). streams: told of every file's bytes going out, by both
  // handlers (may be null). factory: empty = server::CreateMediaServer.
  MediaServerSwitch(server::MediaWindow window, server::StreamActivity* streams,
                    MediaServerFactory factory = {});
  ~MediaServerSwitch();
  MediaServerSwitch(const MediaServerSwitch&) = delete;
  MediaServerSwitch& operator=(const MediaServerSwitch&) = delete;

  // Creates the server at address:kMediaPort and switches it on. Throws as the engine does
  // (the address taken, no handles...) and then stays off.
  void SwitchOn(const std::string& address);
  // Switches the server off and frees it. ENetTerminateThreadTimeout leaves it on.
  void SwitchOff();
  // At program end: off, a timeout included (nobody could switch again).
  void SwitchOffAtExit();
  // While on: a server that listens elsewhere, or that a move left without a server (the
  // address taken), moves to address; requests on the old one end as at a switch-off. A
  // failure to listen there is left to the next call (no server meanwhile). At the same
  // address, discovery moves to the adapter holding it when that is another than before.
  void Follow(const std::string& address);

  // Switched on by the user (also while a move found no address to listen at).
  bool On() const { return on_; }
  // On and listening: a server exists.
  bool Listening() const { return on_ && server_ != nullptr; }
  // Where the server listens ("" while it is off, or at all addresses). Any thread.
  std::string ServedAddress() const;
  // The server object while there is one.
  std::shared_ptr<http::TNetHTTPServer> MediaServer() const { return server_; }
  // Whether connection threads of a server already freed still run (see above).
  bool ConnectionsRunning() const;

  // Whether TVs' own players are to find and browse the PC while the server is on: on by
  // default, set apart from On() (it turns only the media-server side on or off). ShownToTvs:
  // any thread.
  void SetShownToTvs(bool shown);
  bool ShownToTvs() const { return shownToTvs_; }
  // Whether discovery announces the PC now.
  bool Announcing() const;

 private:
  void Start(const std::string& address);
  void Stop();
  // Discovery on the served address while listening and shown; off otherwise.
  void UpdateDiscovery();
  void Handle(http::TNetTCPServerConnection& connection, http::TNetHTTPRequestInfo& request,
              http::TNetHTTPResponseInfo& response);

  MediaServerFactory factory_;
  server::WindowMediaHost host_;
  std::unique_ptr<server::MediaRequestHandler> mediaHandler_;
  dlna::DeviceIdentity device_;  // what discovery and the description say the PC is
  std::unique_ptr<dlna::FolderContent> tree_;
  std::unique_ptr<dlna::UpnpRequestHandler> upnpHandler_;  // browses tree_
  std::unique_ptr<dlna::SsdpService> discovery_;
  std::string announcedAddress_;  // where discovery runs ("" = it does not)
  bool on_ = false;
  bool switchOffStarted_ = false;  // from a switch-off attempt until the server is freed
  std::atomic<bool> shownToTvs_{true};
  mutable std::mutex servedLock_;  // guards servedAddress_
  std::string servedAddress_;
  std::vector<std::weak_ptr<http::TNetHTTPServer>> freedServers_;
  // Last, so that it goes first, while the handler it calls exists.
  std::shared_ptr<http::TNetHTTPServer> server_;
};

}  // namespace tovi::app
