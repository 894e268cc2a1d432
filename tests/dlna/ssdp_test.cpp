// Discovery's datagrams: which searches get which answers (and how late), which get none, and
// what the announcements and answers carry.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "dlna/ssdp.h"

namespace tovi::dlna::ssdp {
namespace {

const DeviceIdentity kIdentity{"b242dadf-26c1-5b01-b21f-34ccb407c19c", "Remote Toviplayer (TV-PC)"};
const std::string kUdn = "uuid:b242dadf-26c1-5b01-b21f-34ccb407c19c";
const char* kCds = "urn:schemas-upnp-org:service:ContentDirectory:1";
const char* kCms = "urn:schemas-upnp-org:service:ConnectionManager:1";
const char* kMrr = "urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1";
const char* kServer = "urn:schemas-upnp-org:device:MediaServer:1";

// A search as control points send it, with the given header lines.
std::string Search(const std::string& headers) { return "M-SEARCH * HTTP/1.1\r\n" + headers + "\r\n"; }
std::string ToGroup(const std::string& st, const std::string& mx = "MX: 2\r\n") {
  return Search("HOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n" + mx + "ST: " + st + "\r\n");
}

struct SearchCase {
  const char* name;
  std::string datagram;
  std::vector<std::string> answeredTypes;  // empty: no answer at all
  int maxDelayMs;
};

TEST(SsdpSearch, AnswersWhatTheDeviceIsAndIgnoresTheRest) {
  const std::vector<std::string> all{"upnp:rootdevice", kUdn, kServer, kCds, kCms, kMrr};
  const SearchCase cases[] = {
      // What we are.
      {"everything", ToGroup("ssdp:all"), all, 2000},
      {"root devices", ToGroup("upnp:rootdevice"), {"upnp:rootdevice"}, 2000},
      {"our UUID", ToGroup(kUdn), {kUdn}, 2000},
      {"our UUID in capitals", ToGroup("uuid:B242DADF-26C1-5B01-B21F-34CCB407C19C"), {kUdn}, 2000},
      {"media servers", ToGroup(kServer), {kServer}, 2000},
      {"the content directory", ToGroup(kCds), {kCds}, 2000},
      {"the connection manager", ToGroup(kCms), {kCms}, 2000},
      {"the registrar", ToGroup(kMrr), {kMrr}, 2000},
      // Forms real control points use.
      {"lower-case header names, bare LF, blanks",
       "M-SEARCH * HTTP/1.1\nhost:239.255.255.250:1900\nman:   \"ssdp:discover\"  \nmx:1\nst:ssdp:all\n\n", all, 1000},
      {"MAN without quotes", Search("HOST: 239.255.255.250:1900\r\nMAN: ssdp:discover\r\nMX: 3\r\nST: ssdp:all\r\n"), all, 3000},
      {"other headers beside", Search("HOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\n"
                                      "ST: upnp:rootdevice\r\nUSER-AGENT: Linux/5 UPnP/1.1 Player/2\r\n"
                                      "CPFN.UPNP.ORG: TV\r\n"), {"upnp:rootdevice"}, 1000},
      {"HTTP/1.0", "M-SEARCH * HTTP/1.0\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nST: ssdp:all\r\n\r\n", all, 1000},
      // MX: capped at 5 s; 0 answers at once; a search to our own address needs none.
      {"MX above the cap", ToGroup("ssdp:all", "MX: 120\r\n"), all, 5000},
      {"MX of 20 digits", ToGroup("ssdp:all", "MX: 99999999999999999999\r\n"), all, 5000},
      {"MX 0", ToGroup("ssdp:all", "MX: 0\r\n"), all, 0},
      {"unicast search without MX", Search("HOST: 192.168.1.50:1900\r\nMAN: \"ssdp:discover\"\r\nST: ssdp:all\r\n"), all, 1000},
      {"unicast search with a long MX", Search("HOST: 192.168.1.50:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 5\r\nST: upnp:rootdevice\r\n"),
       {"upnp:rootdevice"}, 1000},
      // Not for us.
      {"another device's UUID", ToGroup("uuid:b242dadf-26c1-5b01-b21f-34ccb407c19d"), {}, 0},
      {"another device type", ToGroup("urn:schemas-upnp-org:device:MediaRenderer:1"), {}, 0},
      {"another version", ToGroup("urn:schemas-upnp-org:device:MediaServer:2"), {}, 0},
      {"a type's prefix", ToGroup("urn:schemas-upnp-org:device:MediaServer"), {}, 0},
      {"the UUID without uuid:", ToGroup("b242dadf-26c1-5b01-b21f-34ccb407c19c"), {}, 0},
      {"empty ST", ToGroup(""), {}, 0},
      // Not a search, or a malformed one: ignored.
      {"our own alive", "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\n"
                        "USN: " + kUdn + "::upnp:rootdevice\r\nLOCATION: http://192.168.1.50:8027/?dlna/device.xml\r\n\r\n", {}, 0},
      {"a search answer", "HTTP/1.1 200 OK\r\nST: ssdp:all\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\n\r\n", {}, 0},
      {"no MAN", Search("HOST: 239.255.255.250:1900\r\nMX: 1\r\nST: ssdp:all\r\n"), {}, 0},
      {"another MAN", Search("HOST: 239.255.255.250:1900\r\nMAN: \"ssdp:update\"\r\nMX: 1\r\nST: ssdp:all\r\n"), {}, 0},
      {"no ST", Search("HOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\n"), {}, 0},
      {"no MX to the group", ToGroup("ssdp:all", ""), {}, 0},
      {"no MX, no HOST", Search("MAN: \"ssdp:discover\"\r\nST: ssdp:all\r\n"), {}, 0},
      {"MX not a number", ToGroup("ssdp:all", "MX: soon\r\n"), {}, 0},
      {"MX negative", ToGroup("ssdp:all", "MX: -1\r\n"), {}, 0},
      {"MX fraction", ToGroup("ssdp:all", "MX: 1.5\r\n"), {}, 0},
      {"MX empty", ToGroup("ssdp:all", "MX:\r\n"), {}, 0},
      {"two STs", Search("HOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nST: upnp:rootdevice\r\nST: ssdp:all\r\n"), {}, 0},
      {"two MXs", Search("HOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nMX: 4\r\nST: ssdp:all\r\n"), {}, 0},
      {"a line without a colon", Search("HOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\ngarbage\r\nST: ssdp:all\r\n"), {}, 0},
      {"a blank in a header name", Search("HOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nS T: ssdp:all\r\n"), {}, 0},
      {"ST after the header block", "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\n\r\nST: ssdp:all\r\n\r\n", {}, 0},
      {"lower-case method", "m-search * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nST: ssdp:all\r\n\r\n", {}, 0},
      {"a path instead of *", "M-SEARCH / HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nST: ssdp:all\r\n\r\n", {}, 0},
      {"HTTP/2", "M-SEARCH * HTTP/2\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nST: ssdp:all\r\n\r\n", {}, 0},
      {"the request line alone", "M-SEARCH * HTTP/1.1", {}, 0},
      {"empty", "", {}, 0},
  };
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<SearchAnswers> answers = AnswerSearch(c.datagram, kIdentity);
    if (c.answeredTypes.empty()) {
      EXPECT_FALSE(answers.has_value());
      continue;
    }
    ASSERT_TRUE(answers.has_value());
    std::vector<std::string> types;
    for (const Target& t : answers->targets) types.push_back(t.nt);
    EXPECT_EQ(types, c.answeredTypes);
    EXPECT_EQ(answers->maxDelayMs, c.maxDelayMs);
  }
}

// The header lines of a message, "NAME: value" each, after its first line.
std::vector<std::string> Lines(const std::string& message) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < message.size()) {
    const std::size_t end = message.find("\r\n", at);
    if (end == std::string::npos) break;
    lines.push_back(message.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

struct TargetCase {
  std::string nt, usn;
};

TEST(SsdpMessages, CarryEachTargetsTypeAndUniqueName) {
  // The USN of the UUID's own target is the UDN alone; every other is the UDN "::" its type.
  const TargetCase cases[] = {
      {"upnp:rootdevice", kUdn + "::upnp:rootdevice"},
      {kUdn, kUdn},
      {kServer, kUdn + "::" + kServer},
      {kCds, kUdn + "::" + kCds},
      {kCms, kUdn + "::" + kCms},
      {kMrr, kUdn + "::" + kMrr},
  };
  const std::vector<Target> targets = DeviceTargets(kIdentity);
  ASSERT_EQ(targets.size(), std::size(cases));
  const Origin origin{"http://192.168.1.50:8027/?dlna/device.xml", "Linux/6.1 UPnP/1.0 RemoteToviplayer/1.1"};
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const TargetCase& c = cases[i];
    SCOPED_TRACE(c.nt);
    EXPECT_EQ(targets[i].nt, c.nt);
    EXPECT_EQ(targets[i].usn, c.usn);

    const std::string alive = AliveMessage(targets[i], origin);
    const std::vector<std::string> aliveLines = Lines(alive);
    EXPECT_EQ(aliveLines.front(), "NOTIFY * HTTP/1.1");
    for (const char* line :
         {"HOST: 239.255.255.250:1900", "CACHE-CONTROL: max-age=1800", "NTS: ssdp:alive",
          "LOCATION: http://192.168.1.50:8027/?dlna/device.xml",
          "SERVER: Linux/6.1 UPnP/1.0 RemoteToviplayer/1.1"}) {
      EXPECT_TRUE(Has(aliveLines, line)) << line << "\n" << alive;
    }
    EXPECT_TRUE(Has(aliveLines, "NT: " + c.nt)) << alive;
    EXPECT_TRUE(Has(aliveLines, "USN: " + c.usn)) << alive;
    EXPECT_EQ(alive.substr(alive.size() - 4), "\r\n\r\n");

    const std::string byebye = ByebyeMessage(targets[i]);
    const std::vector<std::string> byebyeLines = Lines(byebye);
    EXPECT_EQ(byebyeLines.front(), "NOTIFY * HTTP/1.1");
    EXPECT_TRUE(Has(byebyeLines, "NTS: ssdp:byebye")) << byebye;
    EXPECT_TRUE(Has(byebyeLines, "NT: " + c.nt)) << byebye;
    EXPECT_TRUE(Has(byebyeLines, "USN: " + c.usn)) << byebye;

    const std::string answer = SearchResponse(targets[i], origin, "Tue, 08 Dec 2026 17:00:00 GMT");
    const std::vector<std::string> answerLines = Lines(answer);
    EXPECT_EQ(answerLines.front(), "HTTP/1.1 200 OK");
    for (const char* line :
         {"CACHE-CONTROL: max-age=1800", "EXT:", "DATE: Tue, 08 Dec 2026 17:00:00 GMT",
          "LOCATION: http://192.168.1.50:8027/?dlna/device.xml"}) {
      EXPECT_TRUE(Has(answerLines, line)) << line << "\n" << answer;
    }
    EXPECT_TRUE(Has(answerLines, "ST: " + c.nt)) << answer;
    EXPECT_TRUE(Has(answerLines, "USN: " + c.usn)) << answer;
  }
}

}  // namespace
}  // namespace tovi::dlna::ssdp
