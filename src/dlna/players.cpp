#include "dlna/players.h"

#include <array>

namespace tovi::dlna {

namespace {

// Matroska: Samsung's players take "video/x-mkv" and refuse the registered "video/x-matroska".
constexpr std::initializer_list<PlayerMediaType> kSamsungTypes{{"mkv", "video/x-mkv"}};
// AVI on the consoles: "video/avi" names the container whatever codec it holds (Xvid, DivX,
// MJPEG...), where "video/divx" would promise one codec family; it is the type the Xbox's
// Windows Media lineage registers for .avi, and both consoles play an AVI announced so.
constexpr std::initializer_list<PlayerMediaType> kConsoleTypes{{"avi", "video/avi"},
                                                               {"divx", "video/avi"}};

// Kodi takes a subtitle only from a res of one of four types, compared whole: its own names for
// SubStation Alpha and MicroDVD, where the subtitle table has the common "x-" ones.
constexpr std::initializer_list<PlayerMediaType> kKodiTypes{
    {"ass", "text/ssa"}, {"ssa", "text/ssa"}, {"sub", "text/sub"}};

// Tried in order: the apps first, since they run on the consoles and TVs too.
const std::array<Player, 9> kPlayers{{
    {"Kodi", {"Kodi", "XBMC"}, kKodiTypes, SubtitleStyle::ResPerSubtitle, false, true, false,
     false},
    {"VLC", {"LibVLC", "VLC/"}, {}, SubtitleStyle::ResPerSubtitle, false, true, false, false},
    {"BubbleUPnP", {"BubbleUPnP"}, {}, SubtitleStyle::ResPerSubtitle, false, true, false, false},
    // Older models read a UTF-8 subtitle only after a BOM; every model keeps a resume position.
    {"Samsung", {"SEC_HHP_", "Samsung"}, kSamsungTypes, SubtitleStyle::SamsungElements, false,
     true, true, true},
    // Older models show a folder in the order given.
    {"LG", {"LGE_DLNA_SDK", "webOS"}, {}, SubtitleStyle::ResPerSubtitle, true, true, false,
     false},
    // The PS3 names itself in capitals, the PS4's media player and its file requests
    // "(PlayStation 4)".
    {"PlayStation", {"PLAYSTATION", "PlayStation"}, kConsoleTypes, SubtitleStyle::ResPerSubtitle,
     true, true, false, false},
    {"Sony", {"BRAVIA", "SonyDTV"}, {}, SubtitleStyle::ResPerSubtitle, false, true, false, false},
    {"Panasonic", {"Panasonic MIL DLNA"}, {}, SubtitleStyle::ResPerSubtitle, true, true, false,
     false},
    // Windows Media's player knows no DLNA profiles: a profile it cannot place makes it refuse
    // the file.
    {"Xbox", {"Xbox", "NSPlayer"}, kConsoleTypes, SubtitleStyle::ResPerSubtitle, true, false,
     false, false},
}};

const Player kUnknown{
    "unknown", {}, {}, SubtitleStyle::ElementsAndFirstRes, false, true, false, false};

bool Holds(const Player& player, std::string_view header) {
  for (const char* marker : player.markers) {
    if (header.find(marker) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace

std::span<const Player> KnownPlayers() { return kPlayers; }

const Player& UnknownPlayer() { return kUnknown; }

const Player& PlayerOf(std::string_view userAgent, std::string_view avClientInfo,
                       std::string_view friendlyName) {
  for (const Player& player : kPlayers) {
    if (Holds(player, userAgent) || Holds(player, avClientInfo) || Holds(player, friendlyName))
      return player;
  }
  return kUnknown;
}

const Player& PlayerOf(const http::TNetHeaderList& headers) {
  return PlayerOf(headers.Values("User-Agent"), headers.Values("X-AV-Client-Info"),
                  headers.Values("FriendlyName.DLNA.ORG"));
}

const char* MimeFor(const Player& player, const MediaType& type) {
  return MimeFor(player, type.extension, type.mime);
}

const char* MimeFor(const Player& player, std::string_view extension, const char* mime) {
  for (const PlayerMediaType& own : player.mediaTypes) {
    if (std::string_view(own.extension) == extension) return own.mime;
  }
  return mime;
}

std::string DlnaFeaturesFor(const Player& player, const MediaType& type) {
  return DlnaFeaturesFor(player, type, type.profile);
}

std::string DlnaFeaturesFor(const Player& player, const MediaType& type, std::string_view profile) {
  return DlnaFeatures(type, player.profiles ? profile : std::string_view());
}

std::string ProtocolInfoFor(const Player& player, const MediaType& type) {
  return ProtocolInfoFor(player, type, type.profile);
}

std::string ProtocolInfoFor(const Player& player, const MediaType& type, std::string_view profile) {
  return HttpProtocolInfo(MimeFor(player, type), DlnaFeaturesFor(player, type, profile));
}

}  // namespace tovi::dlna
