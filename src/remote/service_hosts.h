// The two hosts of the remote list service, in one place. We ship no real service host: the
// defaults are placeholders that a deployment overrides with --list-host and --site-host.
// Set once at start-up (before any exchange), read-only afterwards.
#pragma once
#include <string>

namespace tovi::remote {

inline constexpr const char* kDefaultListServiceHost = "list.toviplayer.example";
inline constexpr const char* kDefaultMainSiteHost = "toviplayer.example";

struct ServiceHosts {
  std::string listService = kDefaultListServiceHost;  // registration, folder sync
  std::string mainSite = kDefaultMainSiteHost;        // playlist upload, About box
};

// The hosts in force for this run ("HOST" or "HOST:PORT").
ServiceHosts& CurrentServiceHosts();

}  // namespace tovi::remote
