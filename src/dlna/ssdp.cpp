#include "dlna/ssdp.h"

#include "dlna/device.h"
#include "platform/ascii.h"

namespace tovi::dlna::ssdp {
namespace {

constexpr std::string_view kSearchAll = "ssdp:all";
constexpr std::string_view kRootDevice = "upnp:rootdevice";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The next line of text, without its CRLF or bare LF; false at the end.
bool NextLine(std::string_view* rest, std::string_view* line) {
  if (rest->empty()) return false;
  const std::size_t end = rest->find('\n');
  *line = rest->substr(0, end);
  rest->remove_prefix(end == std::string_view::npos ? rest->size() : end + 1);
  if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
  return true;
}

// The header lines a search is judged by; each may come once.
struct SearchHeaders {
  std::optional<std::string_view> host, man, mx, st;
};

// The header block up to the empty line (or the datagram's end): false when a line is not
// "name: value", or a header we judge by comes twice.
bool ReadHeaders(std::string_view rest, SearchHeaders* out) {
  std::string_view line;
  while (NextLine(&rest, &line)) {
    if (line.empty()) break;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    const std::string_view name = line.substr(0, colon);
    if (name.find_first_of(" \t") != std::string_view::npos) return false;
    const std::string_view value = Trim(line.substr(colon + 1));
    std::optional<std::string_view>* slot = nullptr;
    if (text::SameAsciiText(name, "HOST")) slot = &out->host;
    else if (text::SameAsciiText(name, "MAN")) slot = &out->man;
    else if (text::SameAsciiText(name, "MX")) slot = &out->mx;
    else if (text::SameAsciiText(name, "ST")) slot = &out->st;
    if (slot == nullptr) continue;
    if (slot->has_value()) return false;
    *slot = value;
  }
  return true;
}

// MX: whole seconds, capped; none when it is not a number.
std::optional<int> SearchDelaySeconds(std::string_view mx) {
  if (mx.empty()) return std::nullopt;
  int seconds = 0;
  for (char c : mx) {
    if (c < '0' || c > '9') return std::nullopt;
    if (seconds < kMaxSearchDelaySeconds) seconds = seconds * 10 + (c - '0');
  }
  return seconds < kMaxSearchDelaySeconds ? seconds : kMaxSearchDelaySeconds;
}

bool ToGroup(const std::optional<std::string_view>& host) {
  if (!host) return true;  // no HOST: judged by the stricter rules of a search to the group
  return *host == "239.255.255.250" || *host == kGroupHost;
}

std::string Usn(const DeviceIdentity& identity, const std::string& type) {
  return Udn(identity) + "::" + type;
}

}  // namespace

std::vector<Target> DeviceTargets(const DeviceIdentity& identity) {
  std::vector<Target> targets;
  targets.push_back({std::string(kRootDevice), Usn(identity, std::string(kRootDevice))});
  targets.push_back({Udn(identity), Udn(identity)});
  targets.push_back({kDeviceType, Usn(identity, kDeviceType)});
  for (const ServiceUrls& service : kServices) {
    targets.push_back({service.type, Usn(identity, service.type)});
  }
  return targets;
}

std::optional<SearchAnswers> AnswerSearch(std::string_view datagram, const DeviceIdentity& identity) {
  if (datagram.find('\0') != std::string_view::npos) return std::nullopt;
  std::string_view rest = datagram;
  std::string_view requestLine;
  if (!NextLine(&rest, &requestLine)) return std::nullopt;
  if (requestLine != "M-SEARCH * HTTP/1.1" && requestLine != "M-SEARCH * HTTP/1.0") return std::nullopt;
  SearchHeaders headers;
  if (!ReadHeaders(rest, &headers) || !headers.man || !headers.st) return std::nullopt;
  // The extension's name is quoted; some control points leave the quotes out.
  std::string_view man = *headers.man;
  if (man.size() >= 2 && man.front() == '"' && man.back() == '"') man = man.substr(1, man.size() - 2);
  if (!text::SameAsciiText(man, "ssdp:discover")) return std::nullopt;

  SearchAnswers answers;
  if (ToGroup(headers.host)) {
    // A search to the group without a valid MX must be ignored: answering at once is what MX
    // exists to prevent (every device of the network answering in the same instant).
    if (!headers.mx) return std::nullopt;
    const std::optional<int> seconds = SearchDelaySeconds(*headers.mx);
    if (!seconds) return std::nullopt;
    answers.maxDelayMs = *seconds * 1000;
  } else {
    answers.maxDelayMs = kUnicastSearchDelaySeconds * 1000;
  }

  const std::string_view st = *headers.st;
  const std::vector<Target> all = DeviceTargets(identity);
  answers.everything = text::SameAsciiText(st, kSearchAll);
  if (answers.everything) {
    answers.targets = all;
  } else {
    for (const Target& target : all) {
      if (text::SameAsciiText(st, target.nt)) answers.targets.push_back(target);
    }
  }
  if (answers.targets.empty()) return std::nullopt;
  return answers;
}

std::string AliveMessage(const Target& target, const Origin& origin) {
  return "NOTIFY * HTTP/1.1\r\n"
         "HOST: " + std::string(kGroupHost) + "\r\n"
         "CACHE-CONTROL: max-age=" + std::to_string(kMaxAgeSeconds) + "\r\n"
         "LOCATION: " + origin.location + "\r\n"
         "NT: " + target.nt + "\r\n"
         "NTS: ssdp:alive\r\n"
         "SERVER: " + origin.server + "\r\n"
         "USN: " + target.usn + "\r\n"
         "\r\n";
}

std::string ByebyeMessage(const Target& target) {
  return "NOTIFY * HTTP/1.1\r\n"
         "HOST: " + std::string(kGroupHost) + "\r\n"
         "NT: " + target.nt + "\r\n"
         "NTS: ssdp:byebye\r\n"
         "USN: " + target.usn + "\r\n"
         "\r\n";
}

std::string SearchResponse(const Target& target, const Origin& origin, const std::string& date) {
  return "HTTP/1.1 200 OK\r\n"
         "CACHE-CONTROL: max-age=" + std::to_string(kMaxAgeSeconds) + "\r\n"
         "DATE: " + date + "\r\n"
         "EXT:\r\n"
         "LOCATION: " + origin.location + "\r\n"
         "SERVER: " + origin.server + "\r\n"
         "ST: " + target.nt + "\r\n"
         "USN: " + target.usn + "\r\n"
         "CONTENT-LENGTH: 0\r\n"
         "\r\n";
}

}  // namespace tovi::dlna::ssdp
