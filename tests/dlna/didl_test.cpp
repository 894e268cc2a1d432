// What a Browse answer says of a file beyond its name: the res attributes players show a length
// and pick a stream by, the date, the poster, and a picture's DLNA profile by its size, as each
// player family's row has them written.
#include "dlna/didl.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace tovi::dlna {
namespace {

struct FactsCase {
  const char* what;
  const char* name;  // gives the media type
  media::MediaFacts facts;
  std::optional<std::int64_t> modified;
  std::string artUrl, artProfile;
  std::vector<std::string> present, absent;
};

media::MediaFacts Facts(std::optional<std::uint64_t> ms, std::optional<std::uint32_t> w,
                        std::optional<std::uint32_t> h, std::optional<std::uint32_t> bitrate = {},
                        std::optional<std::uint32_t> channels = {},
                        std::optional<std::uint32_t> rate = {}) {
  media::MediaFacts f;
  f.durationMs = ms;
  f.width = w;
  f.height = h;
  f.bitrate = bitrate;
  f.channels = channels;
  f.sampleRate = rate;
  return f;
}

std::string Pn(const char* profile) { return std::string("DLNA.ORG_PN=") + profile + ";"; }

const FactsCase kCases[] = {
    {"a film with everything", "a.mkv", Facts(3030, 1920, 1080, 500000, 6, 48000), {}, "", "",
     {"duration=\"0:00:03.030\" resolution=\"1920x1080\" bitrate=\"500000\" nrAudioChannels=\"6\" "
      "sampleFrequency=\"48000\" protocolInfo="},
     {"dc:date", "albumArtURI"}},
    {"an hour and a half second", "a.mp4", Facts(3600500, {}, {}), {}, "", "",
     {"duration=\"1:00:00.500\""}, {"resolution="}},
    {"a hundred hours", "a.ts", Facts(360000000, {}, {}), {}, "", "", {"duration=\"100:00:00.000\""}, {}},
    {"no facts", "a.avi", {}, {}, "", "",
     {"<res size=\"1\" protocolInfo="}, {"duration=", "resolution=", "bitrate=", "nrAudio"}},
    {"a width alone is no resolution", "a.avi", Facts({}, 640, {}), {}, "", "", {}, {"resolution="}},
    {"the epoch", "a.mp3", {}, 0, "", "", {"<dc:date>1970-01-01T00:00:00</dc:date>"}, {}},
    {"a leap day", "a.mp3", {}, 951782400 + 3723, "", "", {"<dc:date>2000-02-29T01:02:03</dc:date>"}, {}},
    {"a recent date", "a.mp3", {}, 1700000000, "", "", {"<dc:date>2023-11-14T22:13:20</dc:date>"}, {}},
    {"a poster with its profile", "a.mkv", {}, {}, "http://h/?dlna/res/QQ.jpg", "JPEG_TN",
     {"<upnp:albumArtURI dlna:profileID=\"JPEG_TN\">http://h/?dlna/res/QQ.jpg</upnp:albumArtURI>"}, {}},
    {"a poster of no known profile", "a.mkv", {}, {}, "http://h/?dlna/art/QQ.jpg", "",
     {"<upnp:albumArtURI>http://h/?dlna/art/QQ.jpg</upnp:albumArtURI>"}, {}},
    {"thumbnail", "a.jpg", Facts({}, 160, 160), {}, "", "", {Pn("JPEG_TN")}, {}},
    {"small", "a.jpeg", Facts({}, 161, 100), {}, "", "", {Pn("JPEG_SM")}, {}},
    {"small upright", "a.jpg", Facts({}, 480, 640), {}, "", "", {Pn("JPEG_SM")}, {}},
    {"medium", "a.jpg", Facts({}, 1024, 768), {}, "", "", {Pn("JPEG_MED")}, {}},
    {"large", "a.jpg", Facts({}, 4096, 4096), {}, "", "", {Pn("JPEG_LRG")}, {}},
    {"too large for a profile", "a.jpg", Facts({}, 4097, 10), {}, "", "", {}, {"DLNA.ORG_PN"}},
    {"a size unknown", "a.jpg", {}, {}, "", "", {}, {"DLNA.ORG_PN"}},
    {"png", "a.png", Facts({}, 4096, 2000), {}, "", "", {Pn("PNG_LRG")}, {}},
    {"png too large", "a.png", Facts({}, 5000, 10), {}, "", "", {}, {"DLNA.ORG_PN"}},
    {"gif has no profile", "a.gif", Facts({}, 100, 100), {}, "", "", {}, {"DLNA.ORG_PN"}},
};

// The case's item as written for player.
std::string Written(const FactsCase& c, const Player& player) {
  DidlItem item;
  item.id = "QQ";
  item.parentId = "0";
  item.title = c.name;
  item.type = MediaTypeOfName(c.name);
  item.size = 1;
  item.url = "http://h/?dlna/res/QQ.x";
  item.facts = c.facts;
  item.modified = c.modified;
  item.albumArtUrl = c.artUrl;
  item.albumArtProfile = c.artProfile;
  DidlWriter didl(player);
  didl.Add(item);
  return didl.Document();
}

// The facts as each family's row has them written: its media types, and no profile at all
// for a family that takes none.
struct PlayerCase {
  const char* family;
  FactsCase facts;
};

const PlayerCase kPlayerCases[] = {
    {"Xbox",
     {"no picture profile nor poster profile for a player that takes none", "a.jpg",
      Facts({}, 1024, 768), {}, "http://h/?dlna/res/Pp.jpg", "JPEG_TN",
      {"resolution=\"1024x768\"", "<upnp:albumArtURI>http://h/?dlna/res/Pp.jpg</upnp:albumArtURI>"},
      {"DLNA.ORG_PN", "profileID"}}},
    {"LG", {"a picture's profile for a player that takes them", "a.jpg", Facts({}, 1024, 768), {},
            "", "", {Pn("JPEG_MED")}, {}}},
    {"Samsung",
     {"the family's own media type beside the facts", "a.mkv", Facts(3030, 1920, 1080), {}, "", "",
      {"duration=\"0:00:03.030\" resolution=\"1920x1080\" protocolInfo=\"http-get:*:video/x-mkv:"},
      {}}},
};

const Player& Family(const char* family) {
  for (const Player& player : KnownPlayers()) {
    if (std::string_view(player.family) == family) return player;
  }
  ADD_FAILURE() << "no row " << family;
  return UnknownPlayer();
}

void ExpectParts(const FactsCase& c, const std::string& doc) {
  for (const std::string& part : c.present) EXPECT_NE(doc.find(part), std::string::npos) << part << "\n" << doc;
  for (const std::string& part : c.absent) EXPECT_EQ(doc.find(part), std::string::npos) << part << "\n" << doc;
}

TEST(DidlFacts, ItemsCarryTheirFactsDateArtAndPictureProfile) {
  for (const FactsCase& c : kCases) {
    SCOPED_TRACE(c.what);
    ASSERT_NE(MediaTypeOfName(c.name), nullptr);
    ExpectParts(c, Written(c, UnknownPlayer()));
  }
  for (const PlayerCase& p : kPlayerCases) {
    SCOPED_TRACE(std::string(p.family) + ": " + p.facts.what);
    ExpectParts(p.facts, Written(p.facts, Family(p.family)));
  }
  DidlWriter didl;
  didl.Add(DidlContainer{"QQ", "0", "Films", {}, "http://h/?dlna/res/Pp.jpg", "JPEG_SM"});
  EXPECT_NE(didl.Document().find("<upnp:class>object.container.storageFolder</upnp:class>"
                                 "<upnp:albumArtURI dlna:profileID=\"JPEG_SM\">http://h/?dlna/res/"
                                 "Pp.jpg</upnp:albumArtURI></container>"),
            std::string::npos)
      << didl.Document();
}

}  // namespace
}  // namespace tovi::dlna
