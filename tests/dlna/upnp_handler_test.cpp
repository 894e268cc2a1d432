// The media-server side's handler behind the real server engine, as the program builds it
// (CreateMediaServer, KeepAlive off), over loopback: documents, SOAP actions and faults on one
// kept connection, and event subscriptions with a subscriber of our own.
#include "dlna/upnp_handler.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "dlna/fake_content.h"
#include "dlna/xml.h"
#include "server/media_handler.h"
#include "support/http_exchange.h"
#include "support/loopback_engine.h"
#include "support/raw_client.h"
#include "support/scripted_server.h"
#include "support/wait.h"

namespace tovi::dlna {
namespace {

using testing::RawClient;
using testing::WireResponse;

constexpr const char* kServerHeader = "Linux/6 UPnP/1.0 RemoteToviplayer/1.1";
constexpr const char* kXml = "text/xml; charset=\"utf-8\"";
const std::string kFriendlyName = "Remote Toviplayer (PC & <\xD0\x9A\xD1\x83\xD1\x85\xD0\xBD\xD1\x8F>)";

UpnpHandlerOptions TestOptions() {
  UpnpHandlerOptions o;
  o.serverHeader = kServerHeader;
  o.eventing.maxSubscriptions = 3;
  o.eventing.maxPerAddress = 2;
  // Long, so that a NOTIFY sent on the connection's thread would hold the next answer up
  // far past the test's wait for it.
  o.eventing.notifyTotalMs = 30000;
  return o;
}

class UpnpServer {
 public:
  explicit UpnpServer(UpnpHandlerOptions options = TestOptions())
      : handler_({"0b6e4c1a-0000-4000-8000-00000000abcd", kFriendlyName}, content_,
                 {"http-get:*:video/mp4:*", "http-get:*:audio/mpeg:*"}, std::move(options)),
        engine_([this](http::TNetPeerThread& t, http::TNetHTTPRequestInfo& rq,
                       http::TNetHTTPResponseInfo& rs) { handler_.Handle(t.Connection(), rq, rs); },
                [](http::TNetHTTPServer& s) { s.SetExtraMethods(kEventMethods); }) {}
  std::uint16_t Port() const { return engine_.Port(); }
  const test::FakeContent& Content() const { return content_; }

 private:
  test::FakeContent content_;
  UpnpRequestHandler handler_;
  testing::LoopbackEngine engine_;
};

// One request on a kept connection, its answer read by its length.
WireResponse Ask(RawClient& client, const std::string& request) {
  client.Send(request);
  return testing::ParseResponse(client.ReadResponse(10000));
}

std::string Post(const std::string& query, const std::string& body,
                 const std::string& headers = "") {
  return "POST /?" + query + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
         "Content-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Envelope(const std::string& type, const std::string& action,
                     const std::string& args) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<s:Envelope "
         "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:" +
         action + " xmlns:u=\"" + type + "\">" + args + "</u:" + action +
         "></s:Body></s:Envelope>";
}

std::string ErrorCodeOf(const std::string& faultBody) {
  const XmlElement envelope = ParseXml(faultBody);
  const XmlElement* e = envelope.Child("Body");
  for (const char* name : {"Fault", "detail", "UPnPError", "errorCode"}) {
    if (e == nullptr) return "no " + std::string(name);
    e = e->Child(name);
  }
  return e ? e->text : "no errorCode";
}

TEST(UpnpControl, ActionsAnswerAndFaultsKeepTheConnection) {
  UpnpServer s;
  const std::string base = "http://127.0.0.1:" + std::to_string(s.Port());
  const std::string cds = kContentDirectoryType, cms = kConnectionManagerType,
                    mrr = kRegistrarType;
  struct Case {
    const char* control;
    std::string type;
    std::string action;
    std::string args;          // the action's argument elements
    SoapArguments out;         // a 200's out arguments, in order
    int fault;                 // else the UPnP error code of a 500
    std::string body = {};     // a whole body instead of an envelope
  };
  const Case cases[] = {
      {"dlna/cds/control", cds, "Browse",
       "<ObjectID>0</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter>"
       "<StartingIndex>1</StartingIndex><RequestedCount>5</RequestedCount><SortCriteria>"
       "+dc:title</SortCriteria>",
       {{"Result", "<DIDL-Lite id=\"0\" meta=\"0\" start=\"1\" count=\"5\" base=\"" + base + "\"/>"},
        {"NumberReturned", "2"}, {"TotalMatches", "3"}, {"UpdateID", "7"}},
       0},
      // An id that needs escaping, written with entities and whitespace, paging left out.
      {"dlna/cds/control", cds, "Browse",
       "\n <ObjectID> a&amp;b &lt;&#x410;&gt;\n</ObjectID>\n <BrowseFlag>BrowseMetadata"
       "</BrowseFlag>\n",
       {{"Result",
         "<DIDL-Lite id=\"a&b <\xD0\x90>\" meta=\"1\" start=\"0\" count=\"0\" base=\"" + base +
             "\"/>"},
        {"NumberReturned", "1"}, {"TotalMatches", "1"}, {"UpdateID", "7"}},
       0},
      {"dlna/cds/control", cds, "Browse",
       "<ObjectID>nothing</ObjectID><BrowseFlag>BrowseMetadata</BrowseFlag>", {}, 701},
      {"dlna/cds/control", cds, "Browse",
       "<ObjectID>0</ObjectID><BrowseFlag>BrowseAll</BrowseFlag>", {}, 402},
      {"dlna/cds/control", cds, "Browse",
       "<ObjectID>0</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag>"
       "<StartingIndex>-1</StartingIndex>", {}, 402},
      {"dlna/cds/control", cds, "Browse",
       "<ObjectID>0</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag>"
       "<RequestedCount>4294967296</RequestedCount>", {}, 402},
      {"dlna/cds/control", cds, "Browse", "<BrowseFlag>BrowseMetadata</BrowseFlag>", {}, 402},
      {"dlna/cds/control", cds, "GetSearchCapabilities", "",
       {{"SearchCaps", "upnp:class,dc:title,dc:date,@id,@parentID,@refID,res,res@size,res@duration"}}, 0},
      {"dlna/cds/control", cds, "Browse",
       "<ObjectID>0</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag>"
       "<SortCriteria>+res@size,+dc:title</SortCriteria>", {}, 709},
      // A Windows player's search of its music, ordered by properties no object here has.
      {"dlna/cds/control", cds, "Search",
       "<ContainerID>0</ContainerID><SearchCriteria>upnp:class derivedfrom "
       "&quot;object.item.audioItem&quot; and @refID exists false</SearchCriteria>"
       "<Filter>*</Filter><StartingIndex>0</StartingIndex><RequestedCount>200</RequestedCount>"
       "<SortCriteria>+upnp:artist,+upnp:album,+upnp:originalTrackNumber,+dc:title"
       "</SortCriteria>",
       {{"Result", "<DIDL-Lite id=\"0\" meta=\"0\" start=\"0\" count=\"200\" base=\"" + base +
                       "\"/>"},
        {"NumberReturned", "3"}, {"TotalMatches", "3"}, {"UpdateID", "7"}},
       0},
      {"dlna/cds/control", cds, "GetSortCapabilities", "",
       {{"SortCaps", "dc:title,dc:date,upnp:class"}}, 0},
      {"dlna/cds/control", cds, "GetSystemUpdateID", "", {{"Id", "7"}}, 0},
      // A vendor's action no table holds.
      {"dlna/cds/control", cds, "X_GetTVSlideShow", "", {}, 401},
      {"dlna/cms/control", cms, "GetProtocolInfo", "",
       {{"Source", "http-get:*:video/mp4:*,http-get:*:audio/mpeg:*"}, {"Sink", ""}}, 0},
      {"dlna/cms/control", cms, "GetCurrentConnectionIDs", "", {{"ConnectionIDs", "0"}}, 0},
      {"dlna/cms/control", cms, "GetCurrentConnectionInfo", "<ConnectionID>0</ConnectionID>",
       {{"RcsID", "-1"}, {"AVTransportID", "-1"}, {"ProtocolInfo", ""},
        {"PeerConnectionManager", ""}, {"PeerConnectionID", "-1"}, {"Direction", "Output"},
        {"Status", "OK"}},
       0},
      {"dlna/cms/control", cms, "GetCurrentConnectionInfo", "<ConnectionID>3</ConnectionID>",
       {}, 706},
      {"dlna/cms/control", cms, "GetCurrentConnectionInfo", "<ConnectionID>x</ConnectionID>",
       {}, 402},
      {"dlna/cms/control", cms, "Browse", "<ObjectID>0</ObjectID>", {}, 401},
      {"dlna/mrr/control", mrr, "IsAuthorized", "<DeviceID></DeviceID>", {{"Result", "1"}}, 0},
      {"dlna/mrr/control", mrr, "IsValidated", "<DeviceID>x</DeviceID>", {{"Result", "1"}}, 0},
      {"dlna/mrr/control", mrr, "RegisterDevice", "<RegistrationReqMsg>AA==</RegistrationReqMsg>",
       {{"RegistrationRespMsg", ""}}, 0},
      {"dlna/cds/control", cds, "Browse", "", {}, 401, "<s:Envelope><s:Body><u:Browse>"},
      {"dlna/cds/control", cds, "Browse", "", {}, 401, "\x01\xFF"},
  };
  RawClient client(s.Port());
  for (const Case& c : cases) {
    const std::string body = c.body.empty() ? Envelope(c.type, c.action, c.args) : c.body;
    const WireResponse r = Ask(
        client, Post(c.control, body, "SOAPACTION: \"" + c.type + "#" + c.action + "\"\r\n"));
    const std::string row = c.action + " " + c.args + c.body;
    ASSERT_TRUE(r.connected) << row << ": no answer on the kept connection";
    EXPECT_EQ(r.Header("Content-Type"), kXml) << row;
    EXPECT_TRUE(r.Has("EXT")) << row;
    EXPECT_EQ(r.Header("Server"), kServerHeader) << row;
    EXPECT_EQ(r.Header("Connection"), "keep-alive") << row;
    if (c.fault != 0) {
      EXPECT_EQ(r.status, 500) << row;
      EXPECT_EQ(ErrorCodeOf(r.body), std::to_string(c.fault)) << row;
      continue;
    }
    EXPECT_EQ(r.status, 200) << row;
    try {
      const SoapAction answer = ParseSoapAction(r.body);
      EXPECT_EQ(answer.serviceType, c.type) << row;
      EXPECT_EQ(answer.name, c.action + "Response") << row;
      EXPECT_EQ(answer.arguments, c.out) << row;
    } catch (const UpnpError&) {
      ADD_FAILURE() << row << ": answer is no envelope: " << r.body;
    }
  }
  // A body past the bound is refused unread by the SOAP reader, and the connection closed.
  const WireResponse big =
      Ask(client, Post("dlna/cds/control", std::string(kMaxSoapBodyBytes + 1, ' ')));
  EXPECT_EQ(big.status, 413);
  EXPECT_TRUE(client.WaitClosed(5000));
}

// Each service as a control point learns it: every action its SCPD describes, called with
// arguments valid for it, answers (no 401) with the out arguments the SCPD names, in order;
// an action no SCPD describes is 401.
TEST(UpnpControl, AnAnswerKeepsWhatItHoldsUntilItHasBeenSent) {
  UpnpServer s;
  RawClient reader;
  // Its window holds little: the answer cannot all be on the way before it reads.
  ASSERT_TRUE(reader.Connect(s.Port(), 5000, 0, 64 * 1024));
  reader.Send(Post("dlna/cds/control",
                   Envelope(kContentDirectoryType, "Browse",
                            "<ObjectID>big</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag>")));
  std::string got = reader.ReadCount(1000, 10000);
  ASSERT_FALSE(got.empty());
  EXPECT_TRUE(s.Content().Holding());
  got += reader.ReadCount(test::FakeContent::kBigBytes - got.size(), 20000);
  EXPECT_GE(got.size(), test::FakeContent::kBigBytes);
  EXPECT_TRUE(testing::WaitUntil([&] { return !s.Content().Holding(); }, 5000));
}

TEST(UpnpControl, EveryDescribedActionIsAnswered) {
  UpnpServer s;
  // A valid value for each in argument an SCPD may name; a new one must be added here.
  const std::map<std::string, std::string> kValid{
      {"ObjectID", "0"}, {"BrowseFlag", "BrowseDirectChildren"}, {"Filter", "*"},
      {"StartingIndex", "0"}, {"RequestedCount", "0"}, {"SortCriteria", ""},
      {"ConnectionID", "0"}, {"DeviceID", ""}, {"RegistrationReqMsg", "AA=="},
      {"ContainerID", "0"}, {"SearchCriteria", "*"}};
  RawClient client(s.Port());
  const XmlElement root = ParseXml(
      testing::Get(s.Port(), "/?dlna/device.xml", "Connection: close\r\n").body);
  int called = 0;
  for (const XmlElement& service : root.Child("device")->Child("serviceList")->children) {
    const std::string type = service.Child("serviceType")->text;
    const std::string control = service.Child("controlURL")->text.substr(2);  // after "/?"
    const WireResponse scpd =
        testing::Get(s.Port(), service.Child("SCPDURL")->text, "Connection: close\r\n");
    const XmlElement doc = ParseXml(scpd.body);
    for (const XmlElement& action : doc.Child("actionList")->children) {
      const std::string name = action.Child("name")->text;
      std::string args;
      std::vector<std::string> outs;
      for (const XmlElement& a : action.Child("argumentList")->children) {
        const std::string argName = a.Child("name")->text;
        if (a.Child("direction")->text == "out") {
          outs.push_back(argName);
          continue;
        }
        const auto valid = kValid.find(argName);
        ASSERT_NE(valid, kValid.end()) << name << ": no valid value known for " << argName;
        args += "<" + argName + ">" + valid->second + "</" + argName + ">";
      }
      const WireResponse r = Ask(client, Post(control, Envelope(type, name, args),
                                              "SOAPACTION: \"" + type + "#" + name + "\"\r\n"));
      ASSERT_EQ(r.status, 200) << type << "#" << name << ": " << r.body;
      std::vector<std::string> answered;
      for (const auto& [argName, value] : ParseSoapAction(r.body).arguments) {
        answered.push_back(argName);
      }
      EXPECT_EQ(answered, outs) << type << "#" << name;
      ++called;
    }
    const WireResponse unknown =
        Ask(client, Post(control, Envelope(type, "X_NotDescribed", ""),
                         "SOAPACTION: \"" + type + "#X_NotDescribed\"\r\n"));
    EXPECT_EQ(unknown.status, 500) << type;
    EXPECT_EQ(ErrorCodeOf(unknown.body), "401") << type;
  }
  EXPECT_GE(called, 10) << "the SCPDs were walked";
}

TEST(UpnpDocuments, DescriptionsAndWhatEachUrlTakes) {
  UpnpServer s;
  struct Case {
    const char* method;
    const char* query;
    int status;
    std::string bodyHas;  // "" = no check
    const char* allow;    // the Allow header of a 405
  };
  const Case cases[] = {
      {"GET", "dlna/device.xml", 200, "<UDN>uuid:0b6e4c1a-0000-4000-8000-00000000abcd</UDN>", ""},
      {"GET", "dlna/cds.xml", 200, "<name>Browse</name>", ""},
      {"GET", "dlna/cms.xml", 200, "<name>GetCurrentConnectionInfo</name>", ""},
      {"GET", "dlna/mrr.xml", 200, "<name>IsAuthorized</name>", ""},
      {"HEAD", "dlna/device.xml", 200, "", ""},
      {"POST", "dlna/device.xml", 405, "", "GET, HEAD"},
      {"SUBSCRIBE", "dlna/cds.xml", 405, "", "GET, HEAD"},
      {"GET", "dlna/cds/control", 405, "", "POST"},
      {"GET", "dlna/cms/events", 405, "", "SUBSCRIBE, UNSUBSCRIBE"},
      {"GET", "dlna/res/abc.mp4", 200, "resource dlna/res/abc.mp4", ""},
      {"SUBSCRIBE", "dlna/res/abc.mp4", 405, "", "GET, HEAD"},
      {"GET", "dlna/unknown", 404, "", ""},
  };
  for (const Case& c : cases) {
    const std::string row = std::string(c.method) + " " + c.query;
    std::string request = testing::Request(c.method, std::string("/?") + c.query,
                                           "Connection: close\r\nContent-Length: 0\r\n");
    const WireResponse r = testing::Exchange(s.Port(), request);
    EXPECT_EQ(r.status, c.status) << row;
    if (!c.bodyHas.empty()) {
      EXPECT_NE(r.body.find(c.bodyHas), std::string::npos) << row << r.body;
    }
    EXPECT_EQ(r.Header("Allow"), c.allow) << row;
    if (c.status == 200 && std::string(c.query).find(".xml") != std::string::npos) {
      EXPECT_EQ(r.Header("Content-Type"), kXml) << row;
      EXPECT_EQ(r.Header("Server"), kServerHeader) << row;
    }
  }

  // The description read as a control point reads it: the name as given, and each service
  // with its URLs, which answer (what each SCPD promises is walked by the control test).
  const WireResponse d = testing::Get(s.Port(), "/?dlna/device.xml", "Connection: close\r\n");
  const XmlElement root = ParseXml(d.body);
  const XmlElement* device = root.Child("device");
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->Child("friendlyName")->text, kFriendlyName);
  EXPECT_EQ(device->Child("deviceType")->text, kDeviceType);
  EXPECT_EQ(device->Child("X_DLNADOC")->text, "DMS-1.50");
  ASSERT_NE(device->Child("serviceList"), nullptr);
  std::vector<std::string> types;
  for (const XmlElement& service : device->Child("serviceList")->children) {
    types.push_back(service.Child("serviceType")->text);
    const std::string scpd = service.Child("SCPDURL")->text;
    const WireResponse r = testing::Get(s.Port(), scpd, "Connection: close\r\n");
    EXPECT_EQ(r.status, 200) << scpd;
  }
  EXPECT_EQ(types, (std::vector<std::string>{kContentDirectoryType, kConnectionManagerType,
                                             kRegistrarType}));
}

std::string Subscribe(const char* query, const std::string& headers) {
  return "SUBSCRIBE /?" + std::string(query) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
         "\r\n";
}
std::string Unsubscribe(const char* query, const std::string& sid) {
  return "UNSUBSCRIBE /?" + std::string(query) + " HTTP/1.1\r\nHost: 127.0.0.1\r\nSID: " + sid +
         "\r\n\r\n";
}

TEST(UpnpEventing, SubscriptionsAnswerAndTheFirstEventReachesOnlyTheSubscriber) {
  UpnpServer s;
  testing::ScriptedServer subscriber([](testing::ScriptPeer& peer) {
    peer.ReadRequest();
    peer.Record();
    peer.Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  });
  const std::string callback =
      "CALLBACK: <http://127.0.0.1:" + std::to_string(subscriber.Port()) + "/cb?x=1>\r\n";
  const std::string nt = "NT: upnp:event\r\n";
  RawClient client(s.Port());

  const WireResponse made =
      Ask(client, Subscribe("dlna/cds/events", callback + nt + "TIMEOUT: Second-999999\r\n"));
  ASSERT_EQ(made.status, 200);
  const std::string sid = made.Header("SID");
  EXPECT_EQ(sid.substr(0, 5), "uuid:");
  EXPECT_EQ(made.Header("TIMEOUT"), "Second-1800");
  EXPECT_EQ(made.Header("Server"), kServerHeader);
  EXPECT_EQ(made.Header("Content-Length"), "0");

  ASSERT_TRUE(subscriber.WaitForRequests(1, 10000));
  const std::string notify = subscriber.Requests()[0];
  const WireResponse event = testing::ParseResponse(notify);
  EXPECT_EQ(notify.substr(0, notify.find("\r\n")), "NOTIFY /cb?x=1 HTTP/1.1");
  EXPECT_EQ(event.Header("NT"), "upnp:event");
  EXPECT_EQ(event.Header("NTS"), "upnp:propchange");
  EXPECT_EQ(event.Header("SID"), sid);
  EXPECT_EQ(event.Header("SEQ"), "0");
  EXPECT_EQ(event.Header("Content-Type"), kXml);
  const XmlElement set = ParseXml(event.body);
  ASSERT_EQ(set.children.size(), 2u) << event.body;
  EXPECT_EQ(set.children[0].Child("SystemUpdateID")->text, "7");
  EXPECT_NE(set.children[1].Child("ContainerUpdateIDs"), nullptr);

  // Renewal, refusals and the end of a subscription, on the same kept connection.
  struct Case {
    std::string request;
    int status;
  };
  const Case cases[] = {
      {Subscribe("dlna/cds/events", "SID: " + sid + "\r\nTIMEOUT: Second-60\r\n"), 200},
      {Subscribe("dlna/cms/events", "SID: " + sid + "\r\n"), 412},
      {Subscribe("dlna/cds/events", "SID: uuid:unknown\r\n"), 412},
      {Subscribe("dlna/cds/events", "SID: " + sid + "\r\n" + callback), 400},
      {Subscribe("dlna/cds/events", callback), 412},
      {Subscribe("dlna/cds/events", nt), 412},
      {Subscribe("dlna/cds/events", nt + "CALLBACK: http://127.0.0.1/cb\r\n"), 412},
      // Only the subscriber's own address is called: not another machine, nor a name.
      {Subscribe("dlna/cds/events", nt + "CALLBACK: <http://192.0.2.1:80/cb>\r\n"), 412},
      {Subscribe("dlna/cds/events", nt + "CALLBACK: <http://localhost:80/cb>\r\n"), 412},
      {Subscribe("dlna/cds/events", nt + "CALLBACK: <https://127.0.0.1:80/cb>\r\n"), 412},
      {Unsubscribe("dlna/cds/events", sid), 200},
      {Unsubscribe("dlna/cds/events", sid), 412},
      {Subscribe("dlna/cds/events", "SID: " + sid + "\r\n"), 412},
  };
  for (const Case& c : cases) {
    const WireResponse r = Ask(client, c.request);
    ASSERT_TRUE(r.connected) << c.request;
    EXPECT_EQ(r.status, c.status) << c.request;
    if (c.status == 200 && c.request.rfind("SUBSCRIBE", 0) == 0) {
      EXPECT_EQ(r.Header("SID"), sid) << c.request;
    }
  }
  EXPECT_EQ(subscriber.Requests().size(), 1u) << "a refused subscription got an event";
}

// Every subscription here comes from 127.0.0.1: one device, whose share is two (TestOptions).
TEST(UpnpEventing, ASlowSubscriberHoldsNothingUpAndADeviceKeepsToItsShare) {
  UpnpServer s;
  testing::SilentListener silent;
  const std::string headers = "NT: upnp:event\r\nCALLBACK: <http://127.0.0.1:" +
                              std::to_string(silent.Port()) + "/cb>\r\n";
  RawClient client(s.Port());
  std::vector<std::string> sids;
  for (int i = 0; i < 4; ++i) {
    const WireResponse r = Ask(client, Subscribe("dlna/cms/events", headers));
    ASSERT_EQ(r.status, 200) << "subscription " << i << " held up by the silent subscriber";
    sids.push_back(r.Header("SID"));
  }
  EXPECT_TRUE(testing::WaitUntil([&] { return silent.Accepted() >= 1; }, 10000));
  // The device's own oldest gave way to its newer ones.
  const int renewal[] = {412, 412, 200, 200};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Ask(client, Subscribe("dlna/cms/events", "SID: " + sids[i] + "\r\n")).status,
              renewal[i])
        << "subscription " << i;
  }
  // SIDs are random version 4 UUIDs, none made twice.
  const std::regex uuid4("uuid:[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  for (const std::string& sid : sids) EXPECT_TRUE(std::regex_match(sid, uuid4)) << sid;
  EXPECT_EQ(std::set<std::string>(sids.begin(), sids.end()).size(), sids.size());
}

// Two players on one TV subscribing to the three services as the server appears: every
// subscription within the device's share has its initial event, also one made in place of
// another (the device's share is full), whose event then no longer waits.
TEST(UpnpEventing, EverySubscriptionOfADeviceWithinItsShareHasItsInitialEvent) {
  UpnpHandlerOptions options = TestOptions();
  options.eventing = EventingLimits{};
  UpnpServer s(options);
  testing::ScriptedServer subscriber([](testing::ScriptPeer& peer) {
    peer.ReadRequest();
    peer.Record();
    peer.Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  });
  const std::string headers = "NT: upnp:event\r\nCALLBACK: <http://127.0.0.1:" +
                              std::to_string(subscriber.Port()) + "/cb>\r\n";
  RawClient client(s.Port());
  std::set<std::string> sids;
  const std::size_t share = EventingLimits{}.maxPerAddress;
  for (std::size_t i = 0; i <= share; ++i) {
    const WireResponse r = Ask(client, Subscribe(kServices[i % kServices.size()].events, headers));
    ASSERT_EQ(r.status, 200) << "subscription " << i;
    if (i > 0) sids.insert(r.Header("SID"));  // the first gives way to the last
  }
  ASSERT_TRUE(subscriber.WaitForRequests(share, 10000)) << subscriber.Requests().size();
  std::set<std::string> notified;
  for (const std::string& notify : subscriber.Requests()) {
    notified.insert(testing::ParseResponse(notify).Header("SID"));
  }
  EXPECT_EQ(notified, sids);
}

}  // namespace
}  // namespace tovi::dlna
