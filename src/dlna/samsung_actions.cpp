#include "dlna/samsung_actions.h"

#include "dlna/object_ids.h"

namespace tovi::dlna {

namespace {

std::string FeatureListDocument() {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<Features xmlns=\"urn:schemas-upnp-org:av:avs\""
      " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
      " xsi:schemaLocation=\"urn:schemas-upnp-org:av:avs"
      " http://www.upnp.org/schemas/av/avs.xsd\">"
      "<Feature name=\"samsung.com_BASICVIEW\" version=\"1\">";
  for (const char* type : {"object.item.videoItem", "object.item.audioItem",
                           "object.item.imageItem"}) {
    xml += std::string("<container id=\"") + kRootId + "\" type=\"" + type + "\"/>";
  }
  xml += "</Feature></Features>";
  return xml;
}

}  // namespace

SoapArguments GetFeatureList(const ActionCall&) {
  static const std::string document = FeatureListDocument();
  return {{"FeatureList", document}};
}

SoapArguments SetBookmark(const ActionCall& call) {
  const std::string& objectId = call.action.Required("ObjectID");
  call.action.Required("PosSecond");
  call.state.bookmarks.Set(objectId, call.action.Ui4("PosSecond"));
  return {};
}

}  // namespace tovi::dlna
