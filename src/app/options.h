// Command-line options of both builds. The settings file stays the only stored configuration;
// these are for PCs with several adapters, for deployments and for tests.
#pragma once
#include <string>

namespace tovi::app {

struct Options {
  std::string address;   // --address A: LocalAddress without the lookup ("" = look it up)
  std::string listHost;  // --list-host HOST[:PORT] ("" = the default)
  std::string siteHost;  // --site-host HOST[:PORT] ("" = the default)
  bool help = false;     // --help
  std::string error;     // set when the arguments cannot be understood
};

Options ParseOptions(int argc, const char* const* argv);
std::string UsageText();

// Puts the options in force for this run: address override and service hosts.
// Call once at start-up, before any other thread runs.
void ApplyOptions(const Options& options);

}  // namespace tovi::app
