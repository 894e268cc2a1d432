#include "remote/service.h"

#include "http/coding.h"
#include "platform/codepage.h"
#include "server/media_port.h"

namespace tovi::remote {

namespace {

constexpr const char* kServicePath = "/remote/index.php";

// Only the bytes that would break the request line (space, controls, DEL) or the query ("#"
// ends it, "&" splits a value, "+" reads as a space, "%" starts an escape) are encoded: every
// other byte reaches the service as it always has, so what the service decodes stays the same
// wherever it worked before. Backslashes are left to the client, which sends them as "/".
std::string QueryValue(const std::string& value) {
  return http::PercentEncode(value, [](unsigned char b) {
    return b <= 0x20 || b == 0x7F || b == '#' || b == '&' || b == '+' || b == '%';
  });
}

// The media server as the service hands it on to the TVs.
std::string AnnouncedAddress(const std::string& address) {
  return address + ":" + std::to_string(server::kMediaPort);
}

}  // namespace

std::string RegistrationUrl(const std::string& host, const std::string& version,
                            const std::string& address) {
  return "http://" + host + kServicePath + "?v=" + QueryValue(version) +
         "&do=list&localip=" + QueryValue(AnnouncedAddress(address));
}

std::string UploadUrl(const std::string& host, const std::string& playlistPath,
                      const std::string& device) {
  return "http://" + host + kServicePath + "?do=uploadfile&fname=" + QueryValue(playlistPath) +
         "&initial=" + QueryValue(device);
}

std::string FolderSyncUrl(const std::string& host, const std::string& folder,
                          const std::string& device, const std::string& address) {
  return "http://" + host + kServicePath + "?do=dhcpfile&fdir=" + QueryValue(folder) +
         "&initial=" + QueryValue(device) + "&localip=" + QueryValue(AnnouncedAddress(address));
}

std::string AnswerForDisplay(const std::string& utf8Answer) {
  return text::AnsiToUtf8(text::Utf8ToAnsi(utf8Answer));
}

}  // namespace tovi::remote
