#include "remote/service.h"

#include "platform/codepage.h"

namespace tovi::remote {

namespace {
constexpr const char* kServicePath = "/remote/index.php";
}  // namespace

std::string RegistrationUrl(const std::string& host, const std::string& version,
                            const std::string& address) {
  return "http://" + host + kServicePath + "?v=" + version + "&do=list&localip=" + address + ":" +
         kAnnouncedPort;
}

std::string UploadUrl(const std::string& host, const std::string& playlistPath,
                      const std::string& device) {
  return "http://" + host + kServicePath + "?do=uploadfile&fname=" + playlistPath +
         "&initial=" + device;
}

std::string FolderSyncUrl(const std::string& host, const std::string& folder,
                          const std::string& device, const std::string& address) {
  return "http://" + host + kServicePath + "?do=dhcpfile&fdir=" + folder + "&initial=" + device +
         "&localip=" + address + ":" + kAnnouncedPort;
}

std::string AnswerForDisplay(const std::string& utf8Answer) {
  return text::AnsiToUtf8(text::Utf8ToAnsi(utf8Answer));
}

}  // namespace tovi::remote
