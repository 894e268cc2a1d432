// The errors a UPnP action ends with: they travel to the control point as a SOAP fault (HTTP
// 500) carrying the code and its description.
#pragma once
#include <stdexcept>
#include <string>

namespace tovi::dlna {

class UpnpError : public std::runtime_error {
 public:
  UpnpError(int code, const std::string& description)
      : std::runtime_error(description), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

// The codes this server answers with and their descriptions.
inline UpnpError InvalidAction() { return UpnpError(401, "Invalid Action"); }
inline UpnpError InvalidArgs() { return UpnpError(402, "Invalid Args"); }
inline UpnpError ActionFailed() { return UpnpError(501, "Action Failed"); }
inline UpnpError NoSuchObject() { return UpnpError(701, "No such object"); }
inline UpnpError UnsupportedSortCriteria() {
  return UpnpError(709, "Unsupported or invalid sort criteria");
}
inline UpnpError UnsupportedSearchCriteria() {
  return UpnpError(708, "Unsupported or invalid search criteria");
}
inline UpnpError NoSuchContainer() { return UpnpError(710, "No such container"); }
inline UpnpError InvalidConnectionReference() {
  return UpnpError(706, "Invalid connection reference");
}

}  // namespace tovi::dlna
