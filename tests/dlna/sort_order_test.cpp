// The SortCriteria control points send, and what the server refuses.
#include "dlna/sort_order.h"

#include <gtest/gtest.h>

#include "dlna/upnp_error.h"

namespace tovi::dlna {
namespace {

TEST(SortCriteria, TitleDateAndClassEitherWayWhatNoObjectCarriesPassedOverFault709ForTheRest) {
  using P = SortKey::Property;
  struct Case {
    const char* criteria;
    std::vector<SortKey> keys;
    bool refused;
  };
  const Case cases[] = {
      {"", {}, false},
      {"+dc:title", {{P::Title, false}}, false},
      {"-dc:title", {{P::Title, true}}, false},
      {" -dc:date , +dc:title ", {{P::Date, true}, {P::Title, false}}, false},
      {"dc:date", {{P::Date, false}}, false},
      {",", {}, false},
      {"+upnp:class,+dc:title", {{P::Class, false}, {P::Title, false}}, false},
      // Windows Media Player's, and other properties no object here has.
      {"+upnp:originalTrackNumber,+dc:title", {{P::Title, false}}, false},
      {"+dc:creator,-upnp:album,+upnp:artist@role", {}, false},
      {"+res@size", {}, true},
      {"+res", {}, true},
      {"-@id", {}, true},
      {"+upnp:albumArtURI", {}, true},
      {"+upnp:", {}, true},
      {"+dc:title dc:date", {}, true},
      {"+", {}, true},
      {"*dc:title", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.criteria);
    try {
      EXPECT_EQ(ParseSortCriteria(c.criteria), c.keys);
      EXPECT_FALSE(c.refused);
    } catch (const UpnpError& e) {
      EXPECT_TRUE(c.refused);
      EXPECT_EQ(e.Code(), 709);
    }
  }
}

}  // namespace
}  // namespace tovi::dlna
