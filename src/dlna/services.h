// The three services this device offers, each one table: its actions, each with its arguments
// and the function that answers it, and its state variables, each evented one with the
// function that reads its value. The SCPDs are written from these tables (ServiceDescription)
// and the control URLs route by them (UpnpRequestHandler), so an action is answered exactly
// when its service's table holds it. The vendor actions TVs call without reading any
// description are in the tables too, marked undescribed: the SCPDs stay the standard ones
// every control point reads.
// Errors: a handler throws UpnpError (InvalidArgs for arguments it cannot take, NoSuchObject
// from the content source); anything else it throws is the caller's ActionFailed.
// Thread safety: the tables are constant; handlers run on connection threads, several at once,
// and share only ServiceState (whose members lock their own state).
#pragma once
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "dlna/bookmarks.h"
#include "dlna/content_source.h"
#include "dlna/device.h"
#include "dlna/players.h"
#include "dlna/soap.h"

namespace tovi::dlna {

// What the actions read and change; the request handler owns it.
struct ServiceState {
  ContentSource& content;
  std::string sourceProtocolInfo;  // GetProtocolInfo's Source
  Bookmarks bookmarks;             // X_SetBookmark's positions
};

// One action as a control point asked it.
struct ActionCall {
  const SoapAction& action;
  ServiceState& state;
  const std::string& baseUrl;  // "http://address:port" as the control point reached us
  const Player& player;        // who asks
  // Where an action puts what its answer holds until it has been sent (null: nowhere).
  std::shared_ptr<void>* keepWhileSent = nullptr;
  std::string peer = {};  // the asking device's address
};

using ActionHandler = SoapArguments (*)(const ActionCall& call);
using StateGetter = std::string (*)(ServiceState& state);

struct ArgumentEntry {
  const char* name;
  bool in;
  const char* stateVariable;
};

struct ActionEntry {
  const char* name;
  std::initializer_list<ArgumentEntry> arguments;
  ActionHandler handler;
  bool described = true;  // in the SCPD (false: a vendor's, answered to those who call it)
};

struct VariableEntry {
  const char* name;
  const char* dataType;
  StateGetter evented;  // its value now, for the initial event; null: not evented
  std::initializer_list<const char*> allowed;
};

struct ServiceTable {
  const char* serviceType;  // one of kServices' types
  std::initializer_list<ActionEntry> actions;
  std::initializer_list<VariableEntry> variables;
};

// One table per service of kServices, in that order.
std::span<const ServiceTable> ServiceTables();
// The table of the service with that type, or null.
const ServiceTable* ServiceTableOf(std::string_view serviceType);
// The service's action of that name, described or not, or null.
const ActionEntry* ActionOf(const ServiceTable& service, std::string_view name);

}  // namespace tovi::dlna
