#include "dlna/services.h"

#include <algorithm>
#include <array>

#include "dlna/samsung_actions.h"
#include "dlna/search_criteria.h"
#include "dlna/sort_order.h"
#include "dlna/upnp_error.h"

namespace tovi::dlna {

namespace {

// ---- ContentDirectory ----

// What a Browse and a Search take alike: the page, who asks and the order (its keys as
// sortKeys reads them).
void TakePageAndAsker(const ActionCall& call,
                      std::vector<SortKey> (*sortKeys)(std::string_view criteria),
                      BrowseRequest* request) {
  const SoapAction& action = call.action;
  // Filter is taken and not applied: every property is given.
  if (const std::string* criteria = action.Argument("SortCriteria")) {
    request->sortBy = sortKeys(*criteria);
  }
  request->start = action.Ui4("StartingIndex");
  request->count = action.Ui4("RequestedCount");
  request->player = &call.player;
  request->bookmarks = &call.state.bookmarks;
  request->peer = call.peer;
}

SoapArguments PageAnswer(const ActionCall& call, const BrowseResult& result) {
  if (call.keepWhileSent) *call.keepWhileSent = result.keepWhileSent;
  return {{"Result", result.didl},
          {"NumberReturned", std::to_string(result.returned)},
          {"TotalMatches", std::to_string(result.total)},
          {"UpdateID", std::to_string(call.state.content.SystemUpdateId())}};
}

SoapArguments Browse(const ActionCall& call) {
  const SoapAction& action = call.action;
  BrowseRequest browse;
  browse.objectId = action.Required("ObjectID");
  const std::string& flag = action.Required("BrowseFlag");
  if (flag == "BrowseMetadata") {
    browse.metadata = true;
  } else if (flag != "BrowseDirectChildren") {
    throw InvalidArgs();
  }
  TakePageAndAsker(call, ParseSortCriteria, &browse);
  return PageAnswer(call, call.state.content.Browse(browse, call.baseUrl));
}

// Its order leaves out the keys this server does not sort by, where Browse's refuses them.
SoapArguments Search(const ActionCall& call) {
  const SoapAction& action = call.action;
  SearchRequest search;
  search.objectId = action.Required("ContainerID");
  search.criteria = action.Required("SearchCriteria");
  TakePageAndAsker(call, KnownSortKeys, &search);
  return PageAnswer(call, call.state.content.Search(search, call.baseUrl));
}

std::string SystemUpdateIdNow(ServiceState& state) {
  return std::to_string(state.content.SystemUpdateId());
}

// ---- ConnectionManager ----

SoapArguments GetCurrentConnectionInfo(const ActionCall& call) {
  const std::string& id = call.action.Required("ConnectionID");
  const std::string digits = id.substr(id[0] == '-' ? 1 : 0);
  if (id.empty() || digits.empty() || digits.size() > 10 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    throw InvalidArgs();
  // Only the one connection a server without PrepareForConnection has: 0.
  if (digits.find_first_not_of('0') != std::string::npos) throw InvalidConnectionReference();
  return {{"RcsID", "-1"},
          {"AVTransportID", "-1"},
          {"ProtocolInfo", ""},
          {"PeerConnectionManager", ""},
          {"PeerConnectionID", "-1"},
          {"Direction", "Output"},
          {"Status", "OK"}};
}

// What never changes while the server runs.
std::string Empty(ServiceState&) { return {}; }
std::string Zero(ServiceState&) { return "0"; }

const std::array<ServiceTable, 3> kTables{{
    {kContentDirectoryType,
     {
         {"GetSearchCapabilities", {{"SearchCaps", false, "SearchCapabilities"}},
          [](const ActionCall&) -> SoapArguments { return {{"SearchCaps", kSearchCapabilities}}; }},
         {"GetSortCapabilities", {{"SortCaps", false, "SortCapabilities"}},
          [](const ActionCall&) -> SoapArguments { return {{"SortCaps", kSortCapabilities}}; }},
         {"GetSystemUpdateID", {{"Id", false, "SystemUpdateID"}},
          [](const ActionCall& call) -> SoapArguments {
            return {{"Id", SystemUpdateIdNow(call.state)}};
          }},
         {"Browse",
          {{"ObjectID", true, "A_ARG_TYPE_ObjectID"},
           {"BrowseFlag", true, "A_ARG_TYPE_BrowseFlag"},
           {"Filter", true, "A_ARG_TYPE_Filter"},
           {"StartingIndex", true, "A_ARG_TYPE_Index"},
           {"RequestedCount", true, "A_ARG_TYPE_Count"},
           {"SortCriteria", true, "A_ARG_TYPE_SortCriteria"},
           {"Result", false, "A_ARG_TYPE_Result"},
           {"NumberReturned", false, "A_ARG_TYPE_Count"},
           {"TotalMatches", false, "A_ARG_TYPE_Count"},
           {"UpdateID", false, "A_ARG_TYPE_UpdateID"}},
          Browse},
         {"Search",
          {{"ContainerID", true, "A_ARG_TYPE_ObjectID"},
           {"SearchCriteria", true, "A_ARG_TYPE_SearchCriteria"},
           {"Filter", true, "A_ARG_TYPE_Filter"},
           {"StartingIndex", true, "A_ARG_TYPE_Index"},
           {"RequestedCount", true, "A_ARG_TYPE_Count"},
           {"SortCriteria", true, "A_ARG_TYPE_SortCriteria"},
           {"Result", false, "A_ARG_TYPE_Result"},
           {"NumberReturned", false, "A_ARG_TYPE_Count"},
           {"TotalMatches", false, "A_ARG_TYPE_Count"},
           {"UpdateID", false, "A_ARG_TYPE_UpdateID"}},
          Search},
         {"X_GetFeatureList", {{"FeatureList", false, "A_ARG_TYPE_Featurelist"}}, GetFeatureList,
          false},
         {"X_SetBookmark",
          {{"CategoryType", true, "A_ARG_TYPE_CategoryType"},
           {"RID", true, "A_ARG_TYPE_RID"},
           {"ObjectID", true, "A_ARG_TYPE_ObjectID"},
           {"PosSecond", true, "A_ARG_TYPE_PosSec"}},
          SetBookmark, false},
     },
     {
         {"SearchCapabilities", "string", nullptr, {}},
         {"SortCapabilities", "string", nullptr, {}},
         {"SystemUpdateID", "ui4", SystemUpdateIdNow, {}},
         {"ContainerUpdateIDs", "string", Empty, {}},
         {"A_ARG_TYPE_ObjectID", "string", nullptr, {}},
         {"A_ARG_TYPE_Result", "string", nullptr, {}},
         {"A_ARG_TYPE_BrowseFlag", "string", nullptr, {"BrowseMetadata", "BrowseDirectChildren"}},
         {"A_ARG_TYPE_Filter", "string", nullptr, {}},
         {"A_ARG_TYPE_SortCriteria", "string", nullptr, {}},
         {"A_ARG_TYPE_SearchCriteria", "string", nullptr, {}},
         {"A_ARG_TYPE_Index", "ui4", nullptr, {}},
         {"A_ARG_TYPE_Count", "ui4", nullptr, {}},
         {"A_ARG_TYPE_UpdateID", "ui4", nullptr, {}},
     }},
    {kConnectionManagerType,
     {
         {"GetProtocolInfo",
          {{"Source", false, "SourceProtocolInfo"}, {"Sink", false, "SinkProtocolInfo"}},
          [](const ActionCall& call) -> SoapArguments {
            return {{"Source", call.state.sourceProtocolInfo}, {"Sink", ""}};
          }},
         {"GetCurrentConnectionIDs", {{"ConnectionIDs", false, "CurrentConnectionIDs"}},
          [](const ActionCall&) -> SoapArguments { return {{"ConnectionIDs", "0"}}; }},
         {"GetCurrentConnectionInfo",
          {{"ConnectionID", true, "A_ARG_TYPE_ConnectionID"},
           {"RcsID", false, "A_ARG_TYPE_RcsID"},
           {"AVTransportID", false, "A_ARG_TYPE_AVTransportID"},
           {"ProtocolInfo", false, "A_ARG_TYPE_ProtocolInfo"},
           {"PeerConnectionManager", false, "A_ARG_TYPE_ConnectionManager"},
           {"PeerConnectionID", false, "A_ARG_TYPE_ConnectionID"},
           {"Direction", false, "A_ARG_TYPE_Direction"},
           {"Status", false, "A_ARG_TYPE_ConnectionStatus"}},
          GetCurrentConnectionInfo},
     },
     {
         {"SourceProtocolInfo", "string",
          [](ServiceState& state) { return state.sourceProtocolInfo; }, {}},
         {"SinkProtocolInfo", "string", Empty, {}},
         {"CurrentConnectionIDs", "string", Zero, {}},
         {"A_ARG_TYPE_ConnectionStatus", "string", nullptr,
          {"OK", "ContentFormatMismatch", "InsufficientBandwidth", "UnreliableChannel",
           "Unknown"}},
         {"A_ARG_TYPE_ConnectionManager", "string", nullptr, {}},
         {"A_ARG_TYPE_Direction", "string", nullptr, {"Input", "Output"}},
         {"A_ARG_TYPE_ProtocolInfo", "string", nullptr, {}},
         {"A_ARG_TYPE_ConnectionID", "i4", nullptr, {}},
         {"A_ARG_TYPE_AVTransportID", "i4", nullptr, {}},
         {"A_ARG_TYPE_RcsID", "i4", nullptr, {}},
     }},
    // Every device may play from here: the registrar exists only for the TVs that ask it.
    {kRegistrarType,
     {
         {"IsAuthorized",
          {{"DeviceID", true, "A_ARG_TYPE_DeviceID"}, {"Result", false, "A_ARG_TYPE_Result"}},
          [](const ActionCall&) -> SoapArguments { return {{"Result", "1"}}; }},
         {"RegisterDevice",
          {{"RegistrationReqMsg", true, "A_ARG_TYPE_RegistrationReqMsg"},
           {"RegistrationRespMsg", false, "A_ARG_TYPE_RegistrationRespMsg"}},
          [](const ActionCall&) -> SoapArguments { return {{"RegistrationRespMsg", ""}}; }},
         {"IsValidated",
          {{"DeviceID", true, "A_ARG_TYPE_DeviceID"}, {"Result", false, "A_ARG_TYPE_Result"}},
          [](const ActionCall&) -> SoapArguments { return {{"Result", "1"}}; }},
     },
     {
         {"A_ARG_TYPE_DeviceID", "string", nullptr, {}},
         {"A_ARG_TYPE_Result", "int", nullptr, {}},
         {"A_ARG_TYPE_RegistrationReqMsg", "bin.base64", nullptr, {}},
         {"A_ARG_TYPE_RegistrationRespMsg", "bin.base64", nullptr, {}},
         {"AuthorizationGrantedUpdateID", "ui4", Zero, {}},
         {"AuthorizationDeniedUpdateID", "ui4", Zero, {}},
         {"ValidationSucceededUpdateID", "ui4", Zero, {}},
         {"ValidationRevokedUpdateID", "ui4", Zero, {}},
     }},
}};

}  // namespace

std::span<const ServiceTable> ServiceTables() { return kTables; }

const ServiceTable* ServiceTableOf(std::string_view serviceType) {
  for (const ServiceTable& table : kTables) {
    if (serviceType == table.serviceType) return &table;
  }
  return nullptr;
}

const ActionEntry* ActionOf(const ServiceTable& service, std::string_view name) {
  for (const ActionEntry& action : service.actions) {
    if (name == action.name) return &action;
  }
  return nullptr;
}

}  // namespace tovi::dlna
