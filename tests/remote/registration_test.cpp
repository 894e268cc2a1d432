#include "remote/registration.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "remote/service_hosts.h"

namespace tovi::remote {
namespace {

struct Sent {
  std::string url;
  std::string userAgent;
};

// A registration wired to a fake address source and a fake service that records every GET.
class RegistrationRig {
 public:
  RegistrationRig()
      : registration_(lastSent, [this] { return address; },
                      Transport{[this](const std::string& url, const std::string& agent) {
                                  sent.push_back({url, agent});
                                  traceAtSend.push_back(trace);
                                  if (!addressDuringSend.empty()) address = addressDuringSend;
                                  if (failSends) throw std::runtime_error("Socket Error # 10061");
                                  return std::string("ok");
                                },
                                nullptr},
                      [this](const std::string& text) { trace = text; }) {
    CurrentServiceHosts().listService = "list.test";
  }
  void Step() { registration_.Step("1.1"); }
  std::string lastSent;  // declared before the registration that refers to it
  std::string address;
  std::string addressDuringSend;  // the PC's address changes while the GET is out
  bool failSends = false;
  std::vector<Sent> sent;
  std::string trace = "Memo1";
  std::vector<std::string> traceAtSend;

 private:
  PresenceRegistration registration_;
};

std::string UrlFor(const std::string& address) {
  return "http://list.test/remote/index.php?v=1.1&do=list&localip=" + address + ":8027";
}

struct AddressCase {
  const char* name;
  std::vector<std::string> addressPerTick;
  bool failSends;
  std::vector<std::string> expectedAddressesSent;
  std::string addressDuringFirstSend = "";
};

const AddressCase kAddressCases[] = {
    {"steady address sends once", {"10.0.0.5", "10.0.0.5", "10.0.0.5", "10.0.0.5"}, false,
     {"10.0.0.5"}},
    {"a new network sends the new address once",
     {"10.0.0.5", "10.0.0.5", "192.168.1.20", "192.168.1.20"}, false, {"10.0.0.5", "192.168.1.20"}},
    {"no address before any send sends nothing", {"", "", ""}, false, {}},
    {"losing the address after a send sends the empty one once",
     {"10.0.0.5", "", "", ""}, false, {"10.0.0.5", ""}},
    {"a failed send is not retried", {"10.0.0.5", "10.0.0.5", "10.0.0.5"}, true, {"10.0.0.5"}},
    {"failures still follow address changes", {"10.0.0.5", "10.0.0.6", "10.0.0.6"}, true,
     {"10.0.0.5", "10.0.0.6"}},
    {"returning to an earlier address sends again", {"10.0.0.5", "10.0.0.6", "10.0.0.5"}, false,
     {"10.0.0.5", "10.0.0.6", "10.0.0.5"}},
    {"an address that changes during the send is sent on the next tick",
     {"10.0.0.5", "10.0.0.9", "10.0.0.9"}, false, {"10.0.0.5", "10.0.0.9"}, "10.0.0.9"},
};

TEST(PresenceRegistration, SendsExactlyWhenTheAddressChanged) {
  for (const AddressCase& c : kAddressCases) {
    SCOPED_TRACE(c.name);
    RegistrationRig rig;
    rig.failSends = c.failSends;
    rig.addressDuringSend = c.addressDuringFirstSend;
    for (const std::string& address : c.addressPerTick) {
      rig.address = address;
      EXPECT_NO_THROW(rig.Step());
      if (!rig.sent.empty()) rig.addressDuringSend.clear();
    }
    ASSERT_EQ(rig.sent.size(), c.expectedAddressesSent.size());
    for (std::size_t i = 0; i < rig.sent.size(); ++i) {
      EXPECT_EQ(rig.sent[i].url, UrlFor(c.expectedAddressesSent[i]));
    }
    EXPECT_EQ(rig.lastSent, c.addressPerTick.back());
  }
}

TEST(PresenceRegistration, PresentsTheBrowserIdentityAndLeavesATrace) {
  RegistrationRig rig;
  rig.address = "192.168.1.5";
  rig.Step();
  ASSERT_EQ(rig.sent.size(), 1u);
  EXPECT_EQ(rig.sent[0].url,
            "http://list.test/remote/index.php?v=1.1&do=list&localip=192.168.1.5:8027");
  EXPECT_EQ(rig.sent[0].userAgent,
            "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
            "Chrome/40.0.2214.93 Safari/537.36");
  // The trace is written before the request, with the LF CR break.
  EXPECT_EQ(rig.traceAtSend[0], "New send\n\r");

  rig.trace = "untouched";
  rig.Step();  // nothing to send: the trace stays
  EXPECT_EQ(rig.trace, "untouched");
}

TEST(PresenceRegistration, UsesTheHostInForceAtEachStep) {
  RegistrationRig rig;
  rig.address = "10.0.0.5";
  CurrentServiceHosts().listService = "127.0.0.1:8080";
  rig.Step();
  ASSERT_EQ(rig.sent.size(), 1u);
  EXPECT_EQ(rig.sent[0].url.rfind("http://127.0.0.1:8080/remote/index.php?", 0), 0u);
}

}  // namespace
}  // namespace tovi::remote
