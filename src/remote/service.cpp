#include "remote/service.h"

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
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F || c == '#' || c == '&' || c == '+' || c == '%') {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
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
